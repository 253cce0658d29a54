// Reading a Set-Cookie field value as RFC 6265 (section 5.2) reads it: the name and value,
// then the attributes, each known one by its last occurrence; what cannot be read is passed
// over, never guessed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// The most bytes of a cookie's name and value together, and of one attribute's value.
constexpr size_t kMostCookieBytes = 4096;
constexpr size_t kMostAttributeBytes = 1024;

struct SetCookie {
    std::string name, value;
    bool hasMaxAge = false;
    int64_t maxAge = 0;  // seconds; 0 or less: expired at once
    bool hasExpires = false;
    int64_t expires = 0;  // seconds since 1970-01-01 UTC
    bool hasDomain = false;
    std::string domain;  // lower case, its leading dot removed
    bool hasPath = false;
    std::string path;  // begins with '/'
    bool secure = false;
    bool httpOnly = false;
};

// False when the field holds no cookie to keep: no '=' in its first part, an empty name,
// a control character in the name or value (a tab too, which the cookies file cannot
// carry), or a name and value longer than kMostCookieBytes.
bool ParseSetCookie(std::string_view field, SetCookie* cookie);

// A byte below 0x20, or 0x7f: no cookie holds one, in its name, value, domain or path.
bool HasControl(std::string_view text);


}  // namespace qm
