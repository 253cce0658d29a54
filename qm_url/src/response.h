// The rules that read an HTTP/1.1 response while it arrives: the status line, the header
// fields (names in any letter case, only inside the header block), interim 1xx responses
// passed over, and how the body is delimited, so when the exchange is complete.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decode.h"
#include "fetch_status.h"

namespace qm {

// Room for the header blocks of one response (interim responses included) in the receive
// area; the body passes through it a read at a time.
constexpr size_t kHeaderRoom = 65536;
// The most content and transfer codings a response may stack up to be undone.
constexpr size_t kMostCodings = 4;

// What a response that is not 2xx is to the caller.
enum class RedirectPolicy {
    kReturn,  // a 3xx response is content like a 2xx one (the caller sees what it got)
    kFollow,  // a 301, 302, 303, 307 or 308 with a Location ends at its header, to be followed
};

class ResponseRules {
public:
    enum class Progress { kNeedMore, kComplete, kFailed };

    // `data` is the receive area; it only ever grows at its end.
    ResponseRules(const char* data, RedirectPolicy policy) : data_(data), policy_(policy) {}
    // The receive area has moved (grown) to `data`, its bytes with it.
    void MovedTo(const char* data) { data_ = data; }
    // Once the body has begun (Framed): the bytes before offset `base` are gone, and the area
    // `data` holds those from `base` on. Counts stay offsets from the response's first byte.
    void Slide(size_t base, const char* data) {
        base_ = base;
        data_ = data;
    }

    // The area now holds `count` bytes.
    Progress Update(size_t count);
    // The server has closed the connection with `count` bytes in the area. `confirmed`: the
    // close is known to be the server's own (always on plain TCP; over TLS, with
    // close_notify). A body that runs to the close needs a confirmed one.
    Progress Closed(size_t count, bool confirmed = true);
    // Whether the final header has been read and the body begun: its bytes may then be
    // taken out of the area as they come (Slide).
    bool Framed() const { return framed_; }
    // Once Framed, while not complete: where the body received so far ends, for `count`
    // bytes received (bytes past a Content-Length are not body).
    size_t BodyEndSoFar(size_t count) const;

    // Once failed: why.
    const FetchResult& Failure() const { return failure_; }
    int32_t Status() const { return status_; }
    // Once complete: a redirect to follow (policy kFollow), its Location in the area.
    bool IsRedirect() const { return redirect_; }
    size_t LocationStart() const { return locationStart_; }
    size_t LocationLength() const { return locationLength_; }
    // Its Last-Modified date in seconds since 1970; -1 when it gives none that can be read.
    int64_t LastModified() const { return lastModified_; }
    // Its Content-Type as it came (the first one, up to 127 characters); empty when none.
    const char* ContentType() const { return contentType_; }
    // Once complete: the body's bytes in the area, still chunked when Chunked().
    size_t BodyStart() const { return bodyStart_; }
    size_t BodyLength() const { return bodyLength_; }
    bool Chunked() const { return chunked_; }
    // Once complete with `count` bytes received: whether the connection may carry the next
    // request. Only an HTTP/1.1 response that ended where its own framing said, with nothing
    // after it and no "Connection: close", leaves it so.
    bool KeepsConnection(size_t count) const;
    // Whether `count` bytes received hold the whole response: one read to its end, or one
    // left early (a redirect followed, a status refused) whose length came with it.
    bool HeldWhole(size_t count) const;
    // The codings to undo, in the order they are to be undone.
    size_t CodingCount() const { return codingCount_; }
    Coding CodingAt(size_t i) const { return codings_[i]; }

private:
    enum class Framing { kHeader, kLength, kChunked, kToClose, kNone };

    Progress Fail(const FetchResult& why);
    Progress Complete(size_t bodyLength);
    bool FindHeaderEnd(size_t count);
    Progress ReadHeaderBlock();
    bool ReadStatusLine(const char* line, size_t length);
    bool ReadField(const char* name, size_t nameLength, const char* value, size_t valueLength);
    bool ReadLength(const char* value, size_t length);
    bool AddCodings(const char* value, size_t length, bool transfer);
    Progress ChooseFraming();

    const char* data_;
    RedirectPolicy policy_;
    Progress progress_ = Progress::kNeedMore;
    FetchResult failure_;

    // The header block being read, and the search for its end.
    size_t blockStart_ = 0;
    size_t searched_ = 0;
    size_t headerEnd_ = 0;
    Framing framing_ = Framing::kHeader;

    int32_t status_ = 0;
    bool http11_ = false;
    bool closes_ = false;         // "Connection: close"
    int64_t contentLength_ = -1;  // -1: none, or not valid
    bool lengthInvalid_ = false;
    bool hasTransferCoding_ = false;
    bool chunked_ = false;
    bool chunkedNotLast_ = false;
    bool unsupportedCoding_ = false;
    Coding transfer_[kMostCodings] = {};
    size_t transferCount_ = 0;
    Coding content_[kMostCodings] = {};
    size_t contentCount_ = 0;
    Coding codings_[2 * kMostCodings] = {};
    size_t codingCount_ = 0;
    size_t locationStart_ = 0;
    size_t locationLength_ = 0;
    bool hasLocation_ = false;
    int64_t lastModified_ = -1;
    char contentType_[128] = {};
    bool redirect_ = false;

    size_t bodyStart_ = 0;
    size_t bodyLength_ = 0;
    bool framed_ = false;
    size_t base_ = 0;  // the offset of the area's first byte
    ChunkScanner chunks_;
};

}  // namespace qm
