// Inflating gzip, zlib and raw deflate streams into the decode area: never more than the
// capacity asked for, whatever the stream claims.
#include <cstdint>
#include <cstdlib>

#include "decode.h"
#include "qm_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // The first two bytes choose the capacity (small ones reach the limit), the third the
    // inflater; the rest is the coded body.
    uint32_t asked = (static_cast<uint32_t>(data[0]) << 8 | data[1]) * 161u;
    if (asked > FETCH_BUFFER_SIZE) asked = FETCH_BUFFER_SIZE;
    const char* coded = reinterpret_cast<const char*>(data + 3);
    const uint32_t codedLength = static_cast<uint32_t>(size - 3);
    uint32_t capacity = asked;
    bool ok = data[2] & 1 ? qm::InflateDeflate(coded, codedLength, &capacity)
                          : qm::InflateGzip(coded, codedLength, &capacity);
    if (ok && capacity > asked) std::abort();
    return 0;
}
