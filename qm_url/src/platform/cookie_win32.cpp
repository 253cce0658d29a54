#include <windows.h>
#include <wininet.h>

#include "platform/cookie.h"

namespace qm::platform {

bool LookupCookies(const char* url, char* out, size_t capacity) {
    DWORD size = static_cast<DWORD>(capacity);
    if (capacity == 0 || InternetGetCookieA(url, nullptr, out, &size) == FALSE) return false;
    out[capacity - 1] = '\0';
    return true;
}

}  // namespace qm::platform
