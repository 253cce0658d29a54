// Text built in a fixed-size area. Every write into such an area goes through here, so an
// overflow is caught in one place: the write that would not fit is refused whole, the text
// stays NUL-terminated, and ok() turns false.
#pragma once

#include <cstddef>
#include <cstring>

namespace qm {

class BoundedText {
public:
    BoundedText(char* area, size_t size) : area_(area), size_(size) { area_[0] = '\0'; }
    template <size_t N>
    explicit BoundedText(char (&area)[N]) : BoundedText(area, N) {}

    bool Append(const char* text, size_t length) {
        if (!ok_ || length >= size_ - length_) return ok_ = false;
        std::memcpy(area_ + length_, text, length);
        length_ += length;
        area_[length_] = '\0';
        return true;
    }
    bool Append(const char* text) { return Append(text, std::strlen(text)); }
    bool Append(char c) {
        if (!ok_ || length_ + 1 >= size_) return ok_ = false;
        area_[length_++] = c;
        area_[length_] = '\0';
        return true;
    }

    // Cuts the text back to its first `length` characters.
    void Truncate(size_t length) {
        if (length < length_) {
            length_ = length;
            area_[length_] = '\0';
        }
    }

    const char* c_str() const { return area_; }
    char* data() { return area_; }
    size_t length() const { return length_; }
    bool ok() const { return ok_; }

private:
    char* area_;
    size_t size_;
    size_t length_ = 0;
    bool ok_ = true;
};

}  // namespace qm
