// Reading a response as it arrives: the rules reach the same verdict (complete or not, its
// length, header end and transfer) whether it comes whole or in two pieces split at any
// byte, and nothing is read past what has arrived.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t length = size - 1;
    const size_t split = length == 0 ? 0 : data[0] % (length + 1);
    // An area of exactly the response's size, so a read past it is seen.
    std::vector<char> area(data + 1, data + size);

    qm::ResponseRules whole(area.data()), pieces(area.data());
    const bool wholeDone = whole.Update(length);
    bool piecesDone = pieces.Update(split);
    if (!piecesDone) piecesDone = pieces.Update(length);
    else return 0;  // complete with the first piece: the rest is not part of the exchange

    if (wholeDone != piecesDone || whole.Chunked() != pieces.Chunked() ||
        whole.HeaderEnd() != pieces.HeaderEnd() || whole.HeaderEnd() > length)
        std::abort();
    if (wholeDone && whole.ContentLength() != pieces.ContentLength()) std::abort();
    // Not compared: the coding and the status. Their texts are looked for over everything
    // received, the body too, and each is settled once the header has ended, so a response
    // whose text stands only in the body (or whose status line is broken) reads differently
    // when its body comes later.
    return 0;
}
