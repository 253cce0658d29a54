// Dates as HTTP writes them (RFC 9110's IMF-fixdate).
#pragma once

#include <cstdint>
#include <string>

namespace qm {

// `unixSeconds` (seconds since 1970, UTC) as "Sun, 06 Nov 1994 08:49:37 GMT"; empty for a
// time before 1970 or after 9999.
std::string HttpDate(int64_t unixSeconds);
// The seconds since 1970 of a date written as HttpDate writes it; -1 for any other text.
int64_t ParseHttpDate(const char* text, size_t length);

}  // namespace qm
