// Turning a received response into the page body: the header is cut off, a chunked transfer
// is undone, and a gzip or deflate content coding is inflated into the decode area.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// The one decode area of the library (FETCH_BUFFER_SIZE bytes): the output of both inflaters.
// Being process-wide, it makes a fetch non-reentrant.
char* DecodeArea();

// Moves what follows the first blank line (CR LF CR LF) within the first *length bytes to the
// start of data and stores its length. False, with nothing changed, when there is none.
bool StripResponseHeader(char* data, int32_t* length);

// Inflate `coded` into the decode area, producing at most *capacity bytes and reading at most
// codedLength bytes; reaching either limit first is success with what was produced so far.
// On success *capacity holds the number of bytes produced.
// InflateGzip takes a gzip or a zlib stream (told apart by its header), and every gzip
// member that follows the first; InflateDeflate takes a raw deflate stream.
bool InflateGzip(const char* coded, uint32_t codedLength, uint32_t* capacity);
bool InflateDeflate(const char* coded, uint32_t codedLength, uint32_t* capacity);

// A content or transfer coding a response may carry.
enum class Coding : uint8_t { kGzip, kDeflate };

// Undoes one coding of `coded` into `out`, which has room for *capacity bytes (at most
// FETCH_BUFFER_SIZE); *capacity then holds the bytes produced. Unlike the inflaters above, a
// stream that ends before its own end (every member, for gzip) fails, unless the output
// filled up first: a body cut short is not the body.
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
        SizeFirst, SizeDigits, SizeTail, SizeExtension, Data, DataEnd, TrailerFirst,
        TrailerLine, Lf, Done, Bad
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
