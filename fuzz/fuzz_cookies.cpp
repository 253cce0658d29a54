// Cookies from untrusted bytes: Set-Cookie fields and a cookies file into one jar. What the
// jar writes reads back the same, with no line skipped, and a request that carries its
// cookies stays within its area, every line ending in CR LF.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "cookie_jar.h"
#include "cookies_file.h"
#include "fetch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The URL that set the cookies, a NUL, then the text: Set-Cookie fields one a line, read
    // as a cookies file too.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\0');
    const std::string url = input.substr(0, cut);
    const std::string text = cut == std::string::npos ? "" : input.substr(cut + 1);
    constexpr int64_t kNow = 1700000000;

    qm::CookieJar jar;
    qm::CookieUrl from;
    if (qm::SplitCookieUrl(url, &from)) {
        std::string_view rest = text;
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            jar.Receive(from, rest.substr(0, end), kNow);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    qm::ReadCookiesText(text, jar, kNow, [](int32_t line, const char* reason) {
        if (line < 1 || reason == nullptr || *reason == '\0') std::abort();
    });

    const std::string written = qm::WriteCookiesText(jar, kNow);
    qm::CookieJar again;
    qm::ReadCookiesText(written, again, kNow, [](int32_t, const char*) { std::abort(); });
    if (qm::WriteCookiesText(again, kNow) != written) std::abort();

    UrlRequest request{};
    request.url = url.c_str();
    char area[qm::kRequestTextSize + 1] = {}, host[qm::kHostNameSize + 1] = {};
    area[qm::kRequestTextSize] = host[qm::kHostNameSize] = '\x7f';  // must stay untouched
    int port = 0;
    if (!qm::BuildHttpRequest(&port, &request, area, host, nullptr, &jar)) return 0;
    if (area[qm::kRequestTextSize] != '\x7f' || host[qm::kHostNameSize] != '\x7f') std::abort();
    const size_t length = strnlen(area, qm::kRequestTextSize);
    if (length == qm::kRequestTextSize) std::abort();
    if (length < 4 || std::memcmp(area + length - 4, "\r\n\r\n", 4) != 0) std::abort();
    for (size_t i = 0; i < length; ++i) {
        const bool lineEnd = area[i] == '\r' && area[i + 1] == '\n';
        if (lineEnd) ++i;
        else if (area[i] == '\r' || area[i] == '\n') std::abort();
    }
    return 0;
}
