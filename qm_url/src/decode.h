// Turning a received body into the page: a chunked transfer is joined, and gzip or deflate
// codings are inflated, each into the other of two areas.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// A content or transfer coding a response may carry.
enum class Coding : uint8_t { kGzip, kDeflate };

// Undoes one coding of `coded` (codedLength bytes, never read past) into `out`, which has
// room for *capacity bytes (at most FETCH_BUFFER_SIZE); *capacity then holds the bytes
// produced. gzip takes a gzip or a zlib stream (told apart by its header) and every gzip
// member after the first; bytes after the last are not looked at. deflate takes a zlib
// stream or a raw deflate stream, told apart by the zlib header. Output that reaches the capacity is cut there, as a success; a stream that
// ends before its own end fails: a body cut short is not the body.
bool UndoCoding(Coding coding, const char* coded, uint32_t codedLength, char* out,
                uint32_t* capacity);

// Walks a chunked body as it arrives. The body only ever grows between calls, so each call
// goes on from where the last one stopped.
class ChunkScanner {
public:
    enum class Status { NeedMore, Complete, Malformed };

    // Receives each run of chunk data, as offsets into the body.
    struct DataSink {
        virtual void Data(size_t offset, size_t length) = 0;

    protected:
        ~DataSink() = default;
    };

    Status Scan(const char* body, size_t length, DataSink* sink = nullptr);
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

// Replaces a chunked body by its chunk data, in place. False (body unchanged) when a chunk
// size is not hex, overflows, or the chunks run past the data. `cutAtLimit` says the body
// was cut at the receive area's end: then a last chunk may run past the data.
bool Dechunk(char* body, int32_t* length, bool cutAtLimit);

}  // namespace qm
