// Undoing gzip and deflate codings: never more output than the room given, whatever the
// stream claims, and never a read past the coded bytes.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "decode.h"
#include "qm_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // The first two bytes choose the room (small ones reach the limit), the third the
    // coding; the rest is the coded body, in an area of its exact size.
    uint32_t asked = (static_cast<uint32_t>(data[0]) << 8 | data[1]) * 161u;
    if (asked > FETCH_BUFFER_SIZE) asked = FETCH_BUFFER_SIZE;
    std::vector<char> coded(data + 3, data + size);
    std::unique_ptr<char[]> out(new char[asked]);  // not cleared: only what is produced is read
    uint32_t capacity = asked;
    qm::Coding coding = data[2] & 1 ? qm::Coding::kDeflate : qm::Coding::kGzip;
    bool ok = qm::UndoCoding(coding, coded.data(), static_cast<uint32_t>(coded.size()), out.get(),
                             &capacity);
    if (ok && capacity > asked) std::abort();
    return 0;
}
