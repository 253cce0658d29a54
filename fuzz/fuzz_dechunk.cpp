// De-chunking: Dechunk either leaves the body untouched or shrinks it to its chunk data, and
// the incremental ChunkScanner reaches the same verdict whether the body arrives whole or in
// two pieces split at any byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode.h"

using qm::ChunkScanner;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool cutAtLimit = data[0] & 1;
    const size_t split = data[1];
    const char* body = reinterpret_cast<const char*>(data + 2);
    const size_t length = size - 2;

    std::vector<char> copy(body, body + length);
    int32_t newLength = static_cast<int32_t>(length);
    if (qm::Dechunk(copy.data(), &newLength, cutAtLimit)) {
        if (newLength < 0 || static_cast<size_t>(newLength) > length) std::abort();
    } else if (newLength != static_cast<int32_t>(length) ||
               (length > 0 && std::memcmp(copy.data(), body, length) != 0)) {
        std::abort();  // a refused body is left as it was
    }

    ChunkScanner whole, pieces;
    ChunkScanner::Status once = whole.Scan(body, length);
    ChunkScanner::Status first = pieces.Scan(body, split < length ? split : length);
    ChunkScanner::Status twice =
        first == ChunkScanner::Status::NeedMore ? pieces.Scan(body, length) : first;
    if (once != twice) std::abort();
    if (once == ChunkScanner::Status::Complete &&
        (whole.End() != pieces.End() || whole.End() > length))
        std::abort();
    return 0;
}
