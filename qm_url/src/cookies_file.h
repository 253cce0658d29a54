// The Netscape cookies.txt format that curl, wget and browsers' export add-ons read and
// write: one cookie a line, seven fields separated by tabs (domain, "TRUE" when the names
// below it get the cookie too, path, "TRUE" for https only, expiry in seconds since 1970 with
// 0 for a session cookie, name, value). Lines beginning with '#' are comments, except those
// beginning with "#HttpOnly_", which hold an HttpOnly cookie.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cookie_jar.h"

namespace qm {

// Told of every line that holds no cookie the jar can take: its number (from 1) and why.
using SkippedLine = std::function<void(int32_t line, const char* reason)>;

// Reads the cookies of `text` into `jar`, as curl reads the format: blank lines and
// comments are passed over, a line may end in CR LF, empty fields do not count, and a line
// with six fields has an empty value. Cookies expired at `now` are left out unreported.
void ReadCookiesText(std::string_view text, CookieJar& jar, int64_t now,
                     const SkippedLine& skipped);

// The cookies of `jar` not expired at `now`, in the same format.
std::string WriteCookiesText(const CookieJar& jar, int64_t now);

}  // namespace qm
