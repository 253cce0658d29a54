// A set of byte values, tested with one look-up: the scanner asks it for every character.
#pragma once

#include <cstddef>

namespace qm {

class CharSet {
public:
    constexpr explicit CharSet(const char* members) {
        for (const char* p = members; *p; ++p) has_[static_cast<unsigned char>(*p)] = true;
    }
    constexpr bool operator()(char c) const { return has_[static_cast<unsigned char>(c)]; }

private:
    bool has_[256] = {};
};

// The first of s[from, n) in `set`; n when none is.
inline size_t FindAny(const char* s, size_t from, size_t n, const CharSet& set) {
    for (size_t i = from; i < n; ++i)
        if (set(s[i])) return i;
    return n;
}

}  // namespace qm
