#include "decode.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "qm_url.h"

namespace qm {
namespace {

class Compactor : public ChunkScanner::DataSink {
public:
    explicit Compactor(char* body) : body_(body) {}
    void Data(const char* data, size_t, size_t length) override {
        std::memmove(body_ + written_, data, length);
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

// The zlib stream of an Inflater.
struct Inflater::Stream {
    z_stream z;
    Stream() { std::memset(&z, 0, sizeof z); }
    ~Stream() { inflateEnd(&z); }
};

Inflater::Inflater(Coding coding) : coding_(coding) {}
Inflater::~Inflater() = default;

bool Inflater::Start() {
    int windowBits = coding_ == Coding::kGzip                              ? 15 + 32
                     : HasZlibHeader(reinterpret_cast<const char*>(held_), heldCount_) ? 15
                                                                                       : -15;
    stream_ = std::make_unique<Stream>();
    if (inflateInit2(&stream_->z, windowBits) != Z_OK) {
        stream_.reset();
        return false;
    }
    state_ = State::kRunning;
    return true;
}

bool Inflater::Feed(const char* data, size_t length, ByteSink& out) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    if (length > 0) fed_ = true;
    if (state_ == State::kHeader) {
        // deflate is told apart by its first two bytes: hold them until both came.
        while (heldCount_ < 2 && length > 0) held_[heldCount_++] = *bytes++, --length;
        if (heldCount_ < 2) return true;
        if (!Start()) return (state_ = State::kBad), false;
        unsigned char first[2] = {held_[0], held_[1]};
        if (!Run(first, 2, out)) return false;
    }
    return Run(bytes, length, out);
}

bool Inflater::Run(const unsigned char* data, size_t length, ByteSink& out) {
    // On the stack of a worker, once per coding a body stacks up: kept small.
    unsigned char area[16384];
    bool pending = false;  // the last call filled the area: zlib may hold more output
    while (length > 0 || (pending && state_ == State::kRunning)) {
        switch (state_) {
            case State::kAfterEnd: return true;  // bytes after the last member are not read
            case State::kBad: return false;
            case State::kHeader: return false;   // not reached: Feed starts the stream first
            case State::kBetweenMembers:
                // A gzip body may hold several members, one after the other: together they
                // are the body. Anything else after the end is not looked at.
                held_[heldCount_++] = *data++, --length;
                if (heldCount_ < 2) continue;
                if (held_[0] != 0x1f || held_[1] != 0x8b) {
                    state_ = State::kAfterEnd;
                    return true;
                }
                if (inflateReset(&stream_->z) != Z_OK) return (state_ = State::kBad), false;
                state_ = State::kRunning;
                if (!Run(held_, 2, out)) return false;
                continue;
            case State::kRunning: break;
        }
        z_stream& z = stream_->z;
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = static_cast<uInt>(std::min<size_t>(length, 1u << 30));
        z.next_out = area;
        z.avail_out = sizeof area;
        const size_t offered = z.avail_in;
        int result = inflate(&z, Z_NO_FLUSH);
        const size_t used = offered - z.avail_in;
        data += used;
        length -= used;
        const size_t made = sizeof area - z.avail_out;
        pending = z.avail_out == 0;
        if (made > 0 && !out.Put(reinterpret_cast<const char*>(area), made)) {
            refused_ = true;
            return false;
        }
        if (result == Z_STREAM_END) {
            heldCount_ = 0;
            state_ = coding_ == Coding::kGzip ? State::kBetweenMembers : State::kAfterEnd;
            continue;
        }
        // Nothing more to give for the input so far is no fault.
        if (result == Z_BUF_ERROR && offered == 0 && made == 0) return true;
        if (result != Z_OK || (used == 0 && made == 0)) return (state_ = State::kBad), false;
    }
    return true;
}

bool Inflater::Ended() const {
    return !fed_ || state_ == State::kBetweenMembers || state_ == State::kAfterEnd;
}

namespace {

// The room of UndoCoding: what fits is kept, and reaching its end is a success.
class Room : public ByteSink {
public:
    Room(char* out, uint32_t capacity) : out_(out), capacity_(capacity) {}
    bool Put(const char* data, size_t length) override {
        size_t take = std::min<size_t>(length, capacity_ - made_);
        std::memcpy(out_ + made_, data, take);
        made_ += static_cast<uint32_t>(take);
        return made_ < capacity_;
    }
    uint32_t made() const { return made_; }
    bool full() const { return made_ >= capacity_; }

private:
    char* out_;
    uint32_t capacity_;
    uint32_t made_ = 0;
};

}  // namespace

bool UndoCoding(Coding coding, const char* coded, uint32_t codedLength, char* out,
                uint32_t* capacity) {
    Room room(out, std::min<uint32_t>(*capacity, FETCH_BUFFER_SIZE));
    Inflater inflater(coding);
    bool fed = inflater.Feed(coded, codedLength, room);
    if (!(fed ? inflater.Ended() : inflater.Refused()) && !room.full()) return false;
    *capacity = room.made();
    return true;
}

struct BodyDecoder::Stage : ByteSink {
    Stage(Coding coding, ByteSink& next) : inflater(coding), next(next) {}
    bool Put(const char* data, size_t length) override {
        return inflater.Feed(data, length, next);
    }
    Inflater inflater;
    ByteSink& next;
};

BodyDecoder::BodyDecoder(bool chunked, const Coding* codings, size_t codingCount, ByteSink& out)
    : chunked_(chunked), out_(out) {
    // Built from the last undone to the first, each handing its output to the one after it.
    ByteSink* next = &out_;
    std::vector<std::unique_ptr<Stage>> reversed;
    for (size_t i = codingCount; i > 0; --i) {
        reversed.push_back(std::make_unique<Stage>(codings[i - 1], *next));
        next = reversed.back().get();
    }
    for (size_t i = reversed.size(); i > 0; --i) stages_.push_back(std::move(reversed[i - 1]));
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::Feed(const char* data, size_t offset, size_t length) {
    if (!ok_) return false;
    if (chunked_) {
        if (chunks_.ScanWindow(data, offset, offset + length, this) ==
            ChunkScanner::Status::Malformed)
            ok_ = false;
        return ok_;
    }
    return ok_ = Pass(data, length);
}

void BodyDecoder::Data(const char* data, size_t, size_t length) {
    if (ok_) ok_ = Pass(data, length);
}

bool BodyDecoder::Pass(const char* data, size_t length) {
    if (!stages_.empty()) return stages_.front()->Put(data, length);
    refused_ = !out_.Put(data, length);
    return !refused_;
}

bool BodyDecoder::Ended() const {
    for (const auto& stage : stages_)
        if (!stage->inflater.Ended()) return false;
    return ok_;
}

bool BodyDecoder::Refused() const {
    // Only the last coding hands its output to `out`.
    return stages_.empty() ? refused_ : stages_.back()->inflater.Refused();
}

// Chunks: a size in hex, optional extensions after ';', a line end, that many bytes of data
// and a line end; a size of 0 ends the body, after trailer lines and an empty line. Lines
// end in CR LF; a bare LF is taken too, as most clients do.
ChunkScanner::Status ChunkScanner::ScanWindow(const char* window, size_t from, size_t length,
                                              DataSink* sink) {
    if (pos_ < from) return Status::Malformed;  // bytes it has not seen are gone
    while (pos_ < length && state_ != State::Done && state_ != State::Bad) {
        char c = window[pos_ - from];
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
                if (sink != nullptr) sink->Data(window + (pos_ - from), pos_, take);
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
