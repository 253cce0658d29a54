#include "store_cookies_win32.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>

#include "winutil_win32.h"

namespace pagesnap {

namespace {

// More than any site sets; a store that claims more is not believed.
constexpr DWORD kMaxCookieText = 1u << 20;

// False when the text has a character the ANSI code page lacks: the store would get
// another cookie than the browser's.
bool Utf8ToAnsi(const std::string& text, std::string* ansi) {
    ansi->clear();
    if (text.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    if (GetACP() == CP_UTF8) {
        *ansi = text;
        return true;
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    BOOL lossy = FALSE;
    const int m = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0,
                                      nullptr, &lossy);
    if (m <= 0 || lossy) return false;
    ansi->assign(static_cast<std::size_t>(m), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), n, &(*ansi)[0], m, nullptr,
                        nullptr);
    return true;
}

enum class StoreRead { kPlain, kWithHttpOnly };

// One read of the store, asked first for its size.
bool ReadCookieText(const std::string& url, StoreRead kind, std::string* text) {
    auto read = [&](char* data, DWORD* size) {
        return kind == StoreRead::kPlain ? InternetGetCookieA(url.c_str(), nullptr, data, size)
                                         : InternetGetCookieExA(url.c_str(), nullptr, data, size,
                                                                INTERNET_COOKIE_HTTPONLY, nullptr);
    };
    // The store may gain a cookie between the two calls; then it is asked again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD size = 0;
        if (!read(nullptr, &size) || size == 0 || size > kMaxCookieText) return false;
        std::string data(size + 1, '\0');
        DWORD got = size;
        if (read(&data[0], &got)) {
            data.resize(std::min<std::size_t>(data.find('\0'), size));
            *text = AnsiToUtf8(data);
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    }
    return false;
}

}  // namespace

std::vector<StoreCookie> ReadStoreCookies(const std::string& url) {
    std::string plain;
    std::string withHttpOnly;
    const bool fuller = ReadCookieText(url, StoreRead::kWithHttpOnly, &withHttpOnly);
    if (!ReadCookieText(url, StoreRead::kPlain, &plain) && !fuller) return {};
    return StoreCookiesFromText(plain, withHttpOnly);
}

int WriteStoreCookies(const std::string& url, const std::vector<BrowserCookie>& cookies) {
    int written = 0;
    for (const BrowserCookie& cookie : cookies) {
        std::string name;
        std::string data;
        if (!Utf8ToAnsi(cookie.name, &name) || !Utf8ToAnsi(StoreCookieData(cookie), &data))
            continue;
        bool taken;
        if (cookie.httpOnly) {
            // The plain call refuses HttpOnly cookies; they are given as such, never stripped
            // of the flag that keeps them from the scripts of pages shown from the store.
            const DWORD state = InternetSetCookieExA(url.c_str(), name.c_str(), data.c_str(),
                                                     INTERNET_COOKIE_HTTPONLY, 0);
            taken = state != COOKIE_STATE_UNKNOWN && state != COOKIE_STATE_REJECT;
        } else {
            taken = InternetSetCookieA(url.c_str(), name.c_str(), data.c_str()) != FALSE;
        }
        if (taken) ++written;
    }
    return written;
}

}  // namespace pagesnap
