// Cookies on the wire: the Cookie line a request carries (the system store's cookies and
// those of the save's jar) and the Set-Cookie fields of a response, handed to the jar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

class CookieJar;
struct Response;

// Seconds since 1970-01-01 UTC, the clock cookies expire by.
int64_t CookieClock();

// The value of the Cookie line of a request for the `urlLength` characters of `url` (a
// NUL-terminated text, all of which the system store is asked with): the jar's cookies
// (`jar` may be null), then the store's of other names, as many as `room` bytes take.
// Empty when there is none.
std::string CookieLineFor(const CookieJar* jar, const char* url, size_t urlLength, size_t room);

// Hands every Set-Cookie field of the response to a request for `url` to `jar`. Only the
// header of the final response counts; a response whose header did not arrive sets nothing.
void TakeSetCookies(CookieJar& jar, const char* url, size_t urlLength, const Response& response);

}  // namespace qm
