// The system's store of Internet cookies, as a browser session left it.
#pragma once

#include <cstddef>

namespace qm::platform {

// Writes the cookies the store holds for `url` ("name=value; ...", NUL-terminated) into
// `out`. False when there are none or they do not fit in `capacity` bytes.
bool LookupCookies(const char* url, char* out, size_t capacity);

}  // namespace qm::platform
