// Turning a received body into the content as it arrives: a chunked transfer is joined, and
// gzip or deflate codings are inflated one after the other, each stream checked to its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qm {

// A content or transfer coding a response may carry.
enum class Coding : uint8_t { kGzip, kDeflate };

// Where decoded bytes go. Put gives false to stop the decoding: the receiver knows why.
class ByteSink {
public:
    virtual bool Put(const char* data, size_t length) = 0;

protected:
    ~ByteSink() = default;
};

// Undoes one coding as its bytes arrive, in pieces of any size. gzip takes a gzip or a zlib
// stream (told apart by its header) and every gzip member after the first; bytes after the
// last are not looked at. deflate takes a zlib stream or a raw deflate stream, told apart by
// the zlib header.
class Inflater {
public:
    explicit Inflater(Coding coding);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Decodes `length` more coded bytes into `out`. False when the stream is bad, or `out`
    // refused more.
    bool Feed(const char* data, size_t length, ByteSink& out);
    // Once every coded byte was fed: whether the stream reached its end (an empty body is
    // whole too). A stream that ends before its end is not the body.
    bool Ended() const;
    // Whether `out` refused more (rather than the stream being bad).
    bool Refused() const { return refused_; }

private:
    bool Start();
    bool Run(const unsigned char* data, size_t length, ByteSink& out);

    enum class State { kHeader, kRunning, kBetweenMembers, kAfterEnd, kBad };
    Coding coding_;
    State state_ = State::kHeader;
    bool fed_ = false;
    bool refused_ = false;
    unsigned char held_[2] = {};  // the first bytes, until the stream's format is known
    size_t heldCount_ = 0;
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

// Undoes one coding of `coded` (codedLength bytes, never read past) into `out`, which has
// room for *capacity bytes (at most FETCH_BUFFER_SIZE); *capacity then holds the bytes
// produced. Output that reaches the capacity is cut there, as a success; a stream that ends
// before its own end fails: a body cut short is not the body.
bool UndoCoding(Coding coding, const char* coded, uint32_t codedLength, char* out,
                uint32_t* capacity);

// Walks a chunked body as it arrives. The body only ever grows between calls, so each call
// goes on from where the last one stopped.
class ChunkScanner {
public:
    enum class Status { NeedMore, Complete, Malformed };

    // Receives each run of chunk data: its bytes, and its offset in the body.
    struct DataSink {
        virtual void Data(const char* data, size_t offset, size_t length) = 0;

    protected:
        ~DataSink() = default;
    };

    Status Scan(const char* body, size_t length, DataSink* sink = nullptr) {
        return ScanWindow(body, 0, length, sink);
    }
    // The same when only a window of the body is at hand: `window` holds its bytes from
    // offset `from` (no later than where the last scan stopped) up to `to`.
    Status ScanWindow(const char* window, size_t from, size_t to, DataSink* sink = nullptr);
    // Offset just past the last chunk's final line, once Complete.
    size_t End() const { return pos_; }

private:
    enum class State {
        SizeFirst,
        SizeDigits,
        SizeTail,
        SizeExtension,
        Data,
        DataEnd,
        TrailerFirst,
        TrailerLine,
        Lf,
        Done,
        Bad
    };
    bool EndsLine(char c, State next);
    State AfterSizeLine() const { return size_ == 0 ? State::TrailerFirst : State::Data; }

    State state_ = State::SizeFirst;
    State afterLf_ = State::SizeFirst;  // what follows the LF of a CR LF
    size_t pos_ = 0;
    uint64_t size_ = 0;
};

// The body of one response as it arrives, into `out`: chunk data joined when `chunked`, then
// each coding undone in the order given.
class BodyDecoder : private ChunkScanner::DataSink {
public:
    BodyDecoder(bool chunked, const Coding* codings, size_t codingCount, ByteSink& out);
    ~BodyDecoder();
    // The body's bytes at offsets [offset, offset + length), following those fed before.
    // False when a coding is bad or `out` refused more.
    bool Feed(const char* data, size_t offset, size_t length);
    // Once the whole body was fed: whether every coded stream reached its end.
    bool Ended() const;
    // Whether a Feed failed because `out` refused more.
    bool Refused() const;

private:
    void Data(const char* data, size_t offset, size_t length) override;
    bool Pass(const char* data, size_t length);

    struct Stage;
    bool chunked_;
    ChunkScanner chunks_;
    bool ok_ = true;
    bool refused_ = false;
    ByteSink& out_;
    std::vector<std::unique_ptr<Stage>> stages_;  // the codings, first undone first
};

// Replaces a chunked body by its chunk data, in place. False (body unchanged) when a chunk
// size is not hex, overflows, or the chunks run past the data. `cutAtLimit` says the body
// was cut at the receive area's end: then a last chunk may run past the data.
bool Dechunk(char* body, int32_t* length, bool cutAtLimit);

}  // namespace qm
