#include "decode.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "qm_url.h"

namespace qm {
namespace {

// zlib stops by itself at both limits because it is never offered more: avail_in covers the
// coded body up to codedLength and avail_out the room up to the capacity. One call then does
// the work that byte-sized steps would, and the stopping points stay the same.
// `whole` tells whether the stream reached its end or the output its limit.
bool Inflate(const char* coded, uint32_t codedLength, char* out, uint32_t* capacity, int windowBits,
             bool* whole) {
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded));
    stream.avail_in = 0;
    stream.next_out = reinterpret_cast<Bytef*>(out);
    if (inflateInit2(&stream, windowBits) != Z_OK) return false;

    const uint32_t limit = std::min<uint32_t>(*capacity, FETCH_BUFFER_SIZE);
    // Counted by the stream's pointers: a reset for the next gzip member clears its totals.
    const Bytef* in = reinterpret_cast<const Bytef*>(coded);
    const Bytef* start = reinterpret_cast<const Bytef*>(out);
    auto used = [&] { return static_cast<uint32_t>(stream.next_in - in); };
    auto made = [&] { return static_cast<uint32_t>(stream.next_out - start); };
    bool ok = true;
    bool ended = false;
    while (made() < limit && used() < codedLength) {
        stream.avail_in = codedLength - used();
        stream.avail_out = limit - made();
        int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            ended = true;
            // A gzip body may hold several members, one after the other: together they are
            // the body. Anything else after the end is not looked at.
            uint32_t at = used();
            bool another = windowBits > 15 && codedLength - at >= 2 &&
                           static_cast<unsigned char>(coded[at]) == 0x1f &&
                           static_cast<unsigned char>(coded[at + 1]) == 0x8b;
            if (!another || inflateReset(&stream) != Z_OK) break;
            ended = false;
            continue;
        }
        if (result == Z_OK) continue;
        // zlib may look at input past the point where the output filled up, and find fault
        // there; the output had reached its limit first, so that is success.
        if (made() >= limit) break;
        ok = false;  // a data error, or no progress possible
        break;
    }
    uint32_t produced = made();
    if (inflateEnd(&stream) != Z_OK) ok = false;
    if (!ok) return false;
    *whole = ended || produced >= limit || codedLength == 0;
    *capacity = produced;
    return true;
}

class Compactor : public ChunkScanner::DataSink {
public:
    explicit Compactor(char* body) : body_(body) {}
    void Data(size_t offset, size_t length) override {
        std::memmove(body_ + written_, body_ + offset, length);
        written_ += length;
    }
    size_t Written() const { return written_; }

private:
    char* body_;
    size_t written_ = 0;
};

bool IsHex(char c, unsigned* value) {
    if (c >= '0' && c <= '9') *value = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') *value = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') *value = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    return true;
}

// No chunk can be larger than the area it must fit in.
constexpr uint64_t kLargestChunk = FETCH_BUFFER_SIZE;

// "deflate" is the zlib format (RFC 9110), but many servers send raw deflate under that
// name; browsers take both, told apart by the zlib header: a compression method of 8, a
// window of at most 32 KiB, no preset dictionary and a header check that divides by 31.
bool HasZlibHeader(const char* coded, uint32_t codedLength) {
    if (codedLength < 2) return false;
    unsigned cmf = static_cast<unsigned char>(coded[0]);
    unsigned flg = static_cast<unsigned char>(coded[1]);
    return (cmf & 0x0f) == 8 && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && (cmf * 256 + flg) % 31 == 0;
}

}  // namespace

bool UndoCoding(Coding coding, const char* coded, uint32_t codedLength, char* out,
                uint32_t* capacity) {
    bool whole = false;
    int windowBits = coding == Coding::kGzip               ? 15 + 32
                     : HasZlibHeader(coded, codedLength) ? 15
                                                         : -15;
    return Inflate(coded, codedLength, out, capacity, windowBits, &whole) && whole;
}

// Chunks: a size in hex, optional extensions after ';', a line end, that many bytes of data
// and a line end; a size of 0 ends the body, after trailer lines and an empty line. Lines
// end in CR LF; a bare LF is taken too, as most clients do.
ChunkScanner::Status ChunkScanner::Scan(const char* body, size_t length, DataSink* sink) {
    while (pos_ < length && state_ != State::Done && state_ != State::Bad) {
        char c = body[pos_];
        unsigned digit = 0;
        switch (state_) {
            case State::SizeFirst:
                if (IsHex(c, &digit)) {
                    size_ = digit;
                    state_ = State::SizeDigits;
                } else {
                    state_ = State::Bad;
                }
                break;
            case State::SizeDigits:
                if (!IsHex(c, &digit)) {
                    state_ = State::SizeTail;
                    continue;  // look at this byte again
                }
                size_ = size_ * 16 + digit;
                if (size_ > kLargestChunk) state_ = State::Bad;
                break;
            case State::SizeTail:
                // After the digits: blanks, then extensions up to the line end.
                if (EndsLine(c, AfterSizeLine())) break;
                if (c == ';') state_ = State::SizeExtension;
                else if (c != ' ' && c != '\t') state_ = State::Bad;
                break;
            case State::SizeExtension: EndsLine(c, AfterSizeLine()); break;
            case State::Data: {
                size_t take = static_cast<size_t>(std::min<uint64_t>(size_, length - pos_));
                if (sink != nullptr) sink->Data(pos_, take);
                pos_ += take;
                size_ -= take;
                if (size_ == 0) state_ = State::DataEnd;
                continue;
            }
            case State::DataEnd:
                if (!EndsLine(c, State::SizeFirst)) state_ = State::Bad;
                break;
            case State::TrailerFirst:
                // An empty line ends the body; anything else is a trailer field.
                if (!EndsLine(c, State::Done)) state_ = State::TrailerLine;
                break;
            case State::TrailerLine: EndsLine(c, State::TrailerFirst); break;
            case State::Lf: state_ = c == '\n' ? afterLf_ : State::Bad; break;
            case State::Done:
            case State::Bad: break;
        }
        ++pos_;
    }
    if (state_ == State::Done) return Status::Complete;
    if (state_ == State::Bad) return Status::Malformed;
    return Status::NeedMore;
}

bool ChunkScanner::EndsLine(char c, State next) {
    if (c == '\r') {
        state_ = State::Lf;
        afterLf_ = next;
    } else if (c == '\n') {
        state_ = next;
    } else {
        return false;
    }
    return true;
}

bool Dechunk(char* body, int32_t* length, bool cutAtLimit) {
    size_t total = static_cast<size_t>(*length);
    ChunkScanner check;
    ChunkScanner::Status status = check.Scan(body, total);
    if (status == ChunkScanner::Status::Malformed) return false;
    if (status == ChunkScanner::Status::NeedMore && !cutAtLimit) return false;

    ChunkScanner copy;
    Compactor compactor(body);
    copy.Scan(body, total, &compactor);
    *length = static_cast<int32_t>(compactor.Written());
    return true;
}

}  // namespace qm
