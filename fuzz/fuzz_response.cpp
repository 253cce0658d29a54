// Reading a response as it arrives: the rules reach the same verdict (complete, failed or
// waiting; status, body place, framing, codings, redirect) whether it comes whole or in two
// pieces split at any byte, also when the server then closes, and nothing is read past what
// has arrived.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "response.h"

using qm::ResponseRules;

namespace {

bool Same(const ResponseRules& a, const ResponseRules& b, ResponseRules::Progress progress,
          size_t length) {
    if (progress == ResponseRules::Progress::kFailed)
        return a.Failure().status == b.Failure().status;
    if (progress != ResponseRules::Progress::kComplete) return true;
    if (a.BodyStart() + a.BodyLength() > length) std::abort();
    bool same = a.Status() == b.Status() && a.BodyStart() == b.BodyStart() &&
                a.BodyLength() == b.BodyLength() && a.Chunked() == b.Chunked() &&
                a.IsRedirect() == b.IsRedirect() && a.CodingCount() == b.CodingCount();
    for (size_t i = 0; same && i < a.CodingCount(); ++i) same = a.CodingAt(i) == b.CodingAt(i);
    return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t length = size - 1;
    const size_t split = length == 0 ? 0 : data[0] % (length + 1);
    const auto policy = data[0] & 0x80 ? qm::RedirectPolicy::kFollow : qm::RedirectPolicy::kReturn;
    // An area of exactly the response's size, so a read past it is seen.
    std::vector<char> area(data + 1, data + size);

    ResponseRules whole(area.data(), policy), pieces(area.data(), policy);
    ResponseRules::Progress once = whole.Update(length);
    ResponseRules::Progress first = pieces.Update(split);
    if (first != ResponseRules::Progress::kNeedMore) return 0;  // the rest is not part of it
    ResponseRules::Progress twice = pieces.Update(length);
    if (once != twice || !Same(whole, pieces, once, length)) std::abort();
    if (once == ResponseRules::Progress::kNeedMore) {
        once = whole.Closed(length);
        twice = pieces.Closed(length);
        if (once != twice || !Same(whole, pieces, once, length)) std::abort();
    }
    return 0;
}
