// There is no system-wide cookie store on POSIX systems: no cookies are ever found.
#include "platform/cookie.h"

namespace qm::platform {

bool LookupCookies(const char*, char*, size_t) { return false; }

}  // namespace qm::platform
