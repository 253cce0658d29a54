// Dates as HTTP writes them (RFC 9110's IMF-fixdate).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// `unixSeconds` (seconds since 1970, UTC) as "Sun, 06 Nov 1994 08:49:37 GMT"; empty for a
// time before 1970 or after 9999.
std::string HttpDate(int64_t unixSeconds);
// A date in any of the forms servers write (RFC 6265 section 5.1.1, which reads HTTP's three
// forms too) as seconds since 1970-01-01 UTC. False when it names no day of the years 1601
// to 9999.
bool ParseHttpDate(std::string_view text, int64_t* seconds);

}  // namespace qm
