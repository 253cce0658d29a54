// The system's store of Internet cookies, as a browser session left it.
#pragma once

#include <cstddef>
#include <string>

namespace qm::platform {

// The cookies the store holds for `url` ("name=value; ..."), up to `most` bytes of them.
// False when there are none, or they could not be read whole.
bool LookupCookies(const char* url, size_t most, std::string* out);

}  // namespace qm::platform
