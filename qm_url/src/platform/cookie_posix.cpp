// There is no system-wide cookie store on POSIX systems: no cookies are ever found.
#include "platform/cookie.h"

namespace qm::platform {

bool LookupCookies(const char*, size_t, std::string*) { return false; }

}  // namespace qm::platform
