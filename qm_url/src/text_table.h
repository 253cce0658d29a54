// Texts stored end to end, each found again by its content in a few steps: the URL index
// and the registry of local names of a crawl, which meet tens of thousands of texts per
// page and must not spend an allocation on each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace qm {

// Texts end to end in one area that grows as they come: an append is a copy, and now and
// then a move of what is there.
class TextArea {
public:
    void clear() { size_ = 0; }
    size_t size() const { return size_; }
    const char* data() const { return data_.get(); }
    void append(const char* s, size_t n) {
        if (n > capacity_ - size_) Grow(n);
        if (n > 0) std::memcpy(data_.get() + size_, s, n);
        size_ += n;
    }

private:
    void Grow(size_t n) {
        size_t capacity = capacity_ > 0 ? capacity_ * 2 : 4096;
        while (capacity - size_ < n) capacity *= 2;
        std::unique_ptr<char[]> bigger(new char[capacity]);
        if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

class TextTable {
public:
    TextTable() { Clear(); }

    void Clear() {
        texts_.clear();
        entries_.clear();
        slots_.assign(kFirstSlots, Slot{});
    }

    // The number of the text equal to `s`, or -1.
    int32_t Find(std::string_view s) const { return Find(s, Hash(s)); }
    // The same, for a text whose Hash is `h`.
    int32_t Find(std::string_view s, uint32_t h) const {
        for (size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            const Slot& slot = slots_[i];
            if (slot.entry == 0) return -1;
            if (slot.hash == h && text(slot.entry - 1) == s) return slot.entry - 1;
        }
    }

    // Adds `s`, which is not in the table yet; its number.
    int32_t Add(std::string_view s) { return Add(s, Hash(s)); }
    // The same, for a text whose Hash is `h`.
    int32_t Add(std::string_view s, uint32_t h) {
        if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
        int32_t e = static_cast<int32_t>(entries_.size());
        entries_.push_back(
            Entry{h, static_cast<uint32_t>(texts_.size()), static_cast<uint32_t>(s.size())});
        texts_.append(s.data(), s.size());
        Place(e);
        return e;
    }

    std::string_view text(int32_t e) const {
        const Entry& x = entries_[static_cast<size_t>(e)];
        return std::string_view(texts_.data() + x.offset, x.length);
    }
    size_t size() const { return entries_.size(); }

private:
    static constexpr size_t kFirstSlots = 1024;
    struct Entry {
        uint32_t hash;
        uint32_t offset;
        uint32_t length;
    };

public:
    // Eight bytes a step: texts are URLs and paths of some tens of characters.
    static uint32_t Hash(std::string_view s) {
        uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
        size_t i = 0;
        for (; i + 8 <= s.size(); i += 8) {
            uint64_t w;
            std::memcpy(&w, s.data() + i, 8);
            h = (h ^ w) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 32;
        }
        uint64_t w = 0;
        const size_t rest = s.size() - i;
        if (rest > 0 && i > 0) {
            // The last eight bytes, those taken already shifted out: the same word on the
            // little-endian machines we build for, without a copy of variable length.
            std::memcpy(&w, s.data() + s.size() - 8, 8);
            w >>= 8 * (8 - rest);
        } else {
            std::memcpy(&w, s.data() + i, rest);
        }
        h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 29;
        return static_cast<uint32_t>(h);
    }

private:
    void Place(int32_t e) {
        uint32_t h = entries_[static_cast<size_t>(e)].hash;
        size_t i = h & (slots_.size() - 1);
        while (slots_[i].entry != 0) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = Slot{h, e + 1};
    }
    void Grow() {
        slots_.assign(slots_.size() * 2, Slot{});
        for (int32_t e = 0; e < static_cast<int32_t>(entries_.size()); ++e) Place(e);
    }

    TextArea texts_;
    std::vector<Entry> entries_;
    // The hash beside the entry number: a probe reads one place in memory.
    struct Slot {
        uint32_t hash = 0;
        int32_t entry = 0;  // entry number + 1; 0 for an empty slot
    };
    std::vector<Slot> slots_;
};

}  // namespace qm
