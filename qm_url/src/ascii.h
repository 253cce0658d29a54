// Letters, digits and case as URLs and HTTP know them: ASCII only, whatever the locale says.
#pragma once

#include <cstddef>
#include <cstring>

namespace qm {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }
constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the `n` characters at `a` and `b` are the same but for case.
inline bool EqualNoCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// True when the `length` characters at `text` are `word`, but for case.
inline bool IsWordNoCase(const char* text, size_t length, const char* word) {
    return length == std::strlen(word) && EqualNoCase(text, word, length);
}

// True when the `length` characters at `text` begin with `prefix`, but for case.
inline bool StartsWithNoCase(const char* text, size_t length, const char* prefix) {
    size_t n = std::strlen(prefix);
    return length >= n && EqualNoCase(text, prefix, n);
}

}  // namespace qm
