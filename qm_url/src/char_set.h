// A set of byte values, tested with one look-up: the scanner asks it for every character.
#pragma once

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

}  // namespace qm
