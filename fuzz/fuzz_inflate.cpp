// Undoing gzip and deflate codings: never more output than the room given, whatever the
// stream claims, never a read past the coded bytes, and the same output and verdict whether
// the coded bytes come whole or in two pieces split anywhere.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "decode.h"
#include "qm_url.h"

namespace {

// Keeps what an inflater gives, up to a limit.
class Kept : public qm::ByteSink {
public:
    explicit Kept(size_t limit) : limit_(limit) {}
    bool Put(const char* data, size_t length) override {
        if (text.size() + length > limit_) return false;
        text.append(data, length);
        return true;
    }
    std::string text;

private:
    size_t limit_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // The first two bytes choose the room (small ones reach the limit), the third the
    // coding and where the pieces split; the rest is the coded body, in an area of its
    // exact size.
    uint32_t asked = (static_cast<uint32_t>(data[0]) << 8 | data[1]) * 161u;
    if (asked > FETCH_BUFFER_SIZE) asked = FETCH_BUFFER_SIZE;
    std::vector<char> coded(data + 3, data + size);
    std::unique_ptr<char[]> out(new char[asked]);  // not cleared: only what is produced is read
    uint32_t capacity = asked;
    qm::Coding coding = data[2] & 1 ? qm::Coding::kDeflate : qm::Coding::kGzip;
    bool ok = qm::UndoCoding(coding, coded.data(), static_cast<uint32_t>(coded.size()), out.get(),
                             &capacity);
    if (ok && capacity > asked) std::abort();

    // Fed in two pieces, each in an area of its exact size.
    const size_t split = coded.empty() ? 0 : (data[2] >> 1) % (coded.size() + 1);
    std::vector<char> first(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(split));
    std::vector<char> second(coded.begin() + static_cast<std::ptrdiff_t>(split), coded.end());
    const size_t limit = 1 << 20;
    Kept whole(limit), pieces(limit);
    qm::Inflater once(coding), twice(coding);
    bool onceOk = once.Feed(coded.data(), coded.size(), whole) && once.Ended();
    bool twiceOk = twice.Feed(first.data(), first.size(), pieces) &&
                   twice.Feed(second.data(), second.size(), pieces) && twice.Ended();
    if (!once.Refused() && !twice.Refused() && (onceOk != twiceOk || whole.text != pieces.text))
        std::abort();
    return 0;
}
