#include <windows.h>
#include <wininet.h>

#include "platform/cookie.h"

namespace qm::platform {

bool LookupCookies(const char* url, size_t most, std::string* out) {
    // The store says how much room its text takes, its NUL included, when asked without any.
    DWORD size = 0;
    if (InternetGetCookieA(url, nullptr, nullptr, &size) == FALSE || size == 0 || size > most)
        return false;
    out->assign(size, '\0');
    if (InternetGetCookieA(url, nullptr, &(*out)[0], &size) == FALSE) return false;
    out->resize(strnlen(out->data(), out->size()));
    return true;
}

}  // namespace qm::platform
