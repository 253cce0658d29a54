// The rules that read a response while it arrives: its content coding, its status, where its
// header ends, how long its body is, and so when the exchange is complete.
//
// The texts are matched byte for byte over the received data as a whole ("Content-Length: "
// is found wherever it first stands, even in the body), except the chunked transfer, which is
// a header field and is read as HTTP defines header fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode.h"

namespace qm {

// How the body of one exchange is coded.
enum FetchCoding {
    FETCH_FAILED = 0,   // no usable response
    FETCH_PLAIN = 1,    // no recognised content coding
    FETCH_GZIP = 2,     // "Content-Encoding: gzip"
    FETCH_DEFLATE = 3,  // "Content-Encoding: deflate"
};

// The 256-byte number text: only its first 255 characters are converted.
constexpr size_t kNumberTextSize = 256;

// Converts text as the C library's atoi does (leading blanks, a sign, digits up to the first
// non-digit; none gives 0), looking at no more than 255 characters. Out-of-range values are
// held at the int32 limits.
int32_t ConvertNumber(const char* text, size_t length);

class ResponseRules {
public:
    // `data` is the receive area; it only ever grows at its end.
    explicit ResponseRules(const char* data) : data_(data) {}

    // The area now holds `count` bytes. True once the exchange is complete.
    bool Update(size_t count);

    // The exchange's result once it is over: gzip, deflate, failed for a 404, else plain.
    FetchCoding Coding() const;
    bool Chunked() const { return chunked_; }
    int32_t Status() const { return status_; }
    int32_t ContentLength() const { return contentLength_; }
    size_t HeaderEnd() const { return headerEnd_; }

private:
    // The first occurrence of a text, searched for again only in what has arrived since.
    class FirstOccurrence {
    public:
        FirstOccurrence(const char* text, size_t length) : text_(text), length_(length) {}
        // True once found; Where() is its offset. Searching begins at `from`.
        bool Find(const char* data, size_t count, size_t from = 0);
        size_t Where() const { return where_; }

    private:
        const char* text_;
        size_t length_;
        size_t next_ = 0;  // every start before this has been ruled out
        bool found_ = false;
        size_t where_ = 0;
    };

    void SearchCoding(size_t count);
    void SearchStatus(size_t count);
    void SearchContentLength(size_t count);
    void ReadHeaderFields();
    bool ZeroLengthInHeader() const;

    const char* data_;
    size_t headerEnd_ = 0;  // 0 while unknown
    int32_t status_ = 0;
    int32_t contentLength_ = 0;
    bool gzip_ = false;
    bool deflate_ = false;
    bool chunked_ = false;

    FirstOccurrence codingText_{"Content-Encoding: ", 18};
    FirstOccurrence codingEnd_{"\r\n", 2};
    bool codingRead_ = false;

    FirstOccurrence statusText_{"HTTP", 4};
    FirstOccurrence statusSpace1_{" ", 1};
    FirstOccurrence statusSpace2_{" ", 1};
    bool statusRead_ = false;

    FirstOccurrence headerEndText_{"\r\n\r\n", 4};

    FirstOccurrence lengthText_{"Content-Length: ", 16};
    FirstOccurrence lengthEnd_{"\r\n", 2};
    bool lengthRead_ = false;
    bool lengthTextIsZero_ = false;

    ChunkScanner chunks_;
    ChunkScanner::Status chunkStatus_ = ChunkScanner::Status::NeedMore;
};

}  // namespace qm
