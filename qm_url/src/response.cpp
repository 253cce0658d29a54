#include "response.h"

#include <algorithm>
#include <cstring>

#include "ascii.h"
#include "http_date.h"
#include "qm_url.h"

namespace qm {
namespace {

void TrimBlanks(const char** text, size_t* length) {
    while (*length > 0 && (**text == ' ' || **text == '\t')) ++*text, --*length;
    while (*length > 0 && ((*text)[*length - 1] == ' ' || (*text)[*length - 1] == '\t')) --*length;
}

// Calls `each` with every element of a comma-separated field value, blanks trimmed; empty
// elements are passed over, as HTTP allows them.
template <typename Each>
bool ForEachElement(const char* value, size_t length, Each each) {
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && value[i] != ',') continue;
        const char* element = value + start;
        size_t n = i - start;
        TrimBlanks(&element, &n);
        if (n > 0 && !each(element, n)) return false;
        start = i + 1;
    }
    return true;
}

// 18 digits always fit an int64_t, and no body of ours comes near them.
constexpr size_t kMostLengthDigits = 18;

bool IsRedirectStatus(int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

ResponseRules::Progress ResponseRules::Update(size_t count) {
    while (progress_ == Progress::kNeedMore) {
        switch (framing_) {
            case Framing::kHeader:
                if (!FindHeaderEnd(count)) {
                    if (count >= kHeaderRoom) return Fail(FetchStatus::kMalformedResponse);
                    return progress_;
                }
                if (headerEnd_ > kHeaderRoom) return Fail(FetchStatus::kMalformedResponse);
                ReadHeaderBlock();
                break;  // an interim response: the next block follows
            case Framing::kLength:
                if (static_cast<int64_t>(count - bodyStart_) >= contentLength_)
                    return Complete(static_cast<size_t>(contentLength_));
                return progress_;
            case Framing::kChunked: {
                const size_t from = std::max(base_, bodyStart_);
                switch (chunks_.ScanWindow(data_ + (from - base_), from - bodyStart_,
                                           count - bodyStart_)) {
                    case ChunkScanner::Status::Complete: return Complete(chunks_.End());
                    case ChunkScanner::Status::Malformed:
                        return Fail(FetchStatus::kMalformedResponse);
                    case ChunkScanner::Status::NeedMore: return progress_;
                }
                return progress_;
            }
            case Framing::kToClose:
            case Framing::kNone: return progress_;
        }
    }
    return progress_;
}

ResponseRules::Progress ResponseRules::Closed(size_t count, bool confirmed) {
    if (Update(count) != Progress::kNeedMore) return progress_;
    switch (framing_) {
        // Only a close the server itself said it made ends such a body: over TLS, one
        // without close_notify may be anyone's, or a connection that dropped.
        case Framing::kToClose:
            if (!confirmed)
                return Fail(TruncatedResult(static_cast<int64_t>(count - bodyStart_), -1));
            return Complete(count - bodyStart_);
        // A close before the announced end is a body cut short, whatever ended the
        // connection (a reset may read as an orderly close).
        case Framing::kLength:
            return Fail(TruncatedResult(static_cast<int64_t>(count - bodyStart_), contentLength_));
        case Framing::kChunked:
            return Fail(TruncatedResult(static_cast<int64_t>(count - bodyStart_), 0));
        default: return Fail(FetchStatus::kNoResponse);
    }
}

size_t ResponseRules::BodyEndSoFar(size_t count) const {
    if (framing_ == Framing::kLength)
        return static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(count), static_cast<int64_t>(bodyStart_) + contentLength_));
    return count;
}

bool ResponseRules::KeepsConnection(size_t count) const {
    return progress_ == Progress::kComplete && !redirect_ && http11_ && !closes_ &&
           framing_ != Framing::kToClose && count == bodyStart_ + bodyLength_;
}

bool ResponseRules::HeldWhole(size_t count) const {
    if (progress_ == Progress::kComplete && !redirect_) return true;
    return framed_ && !hasTransferCoding_ && !lengthInvalid_ && contentLength_ >= 0 &&
           static_cast<int64_t>(count - bodyStart_) >= contentLength_;
}

ResponseRules::Progress ResponseRules::Fail(const FetchResult& why) {
    failure_ = why;
    return progress_ = Progress::kFailed;
}

ResponseRules::Progress ResponseRules::Complete(size_t bodyLength) {
    bodyLength_ = bodyLength;
    return progress_ = Progress::kComplete;
}

// The header block ends at its first empty line. Lines end in CR LF; a bare LF is taken too.
bool ResponseRules::FindHeaderEnd(size_t count) {
    if (searched_ < blockStart_) searched_ = blockStart_;
    while (searched_ < count) {
        const void* lf = std::memchr(data_ + searched_, '\n', count - searched_);
        if (lf == nullptr) {
            searched_ = count;
            return false;
        }
        size_t at = static_cast<size_t>(static_cast<const char*>(lf) - data_);
        if (at + 1 < count && data_[at + 1] == '\n') {
            headerEnd_ = at + 2;
            return true;
        }
        if (at + 2 < count && data_[at + 1] == '\r' && data_[at + 2] == '\n') {
            headerEnd_ = at + 3;
            return true;
        }
        // What follows this LF has not arrived yet: look at it again next time.
        if (at + 2 >= count && (at + 1 == count || data_[at + 1] == '\r')) {
            searched_ = at;
            return false;
        }
        searched_ = at + 1;
    }
    return false;
}

ResponseRules::Progress ResponseRules::ReadHeaderBlock() {
    status_ = 0;
    http11_ = closes_ = false;
    contentLength_ = -1;
    lengthInvalid_ = hasTransferCoding_ = chunked_ = chunkedNotLast_ = false;
    unsupportedCoding_ = hasLocation_ = false;
    lastModified_ = -1;
    transferCount_ = contentCount_ = 0;

    const char* line = data_ + blockStart_;
    const char* end = data_ + headerEnd_;
    bool first = true;
    while (line < end) {
        const char* lineEnd =
            static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        if (lineEnd == nullptr) lineEnd = end;
        size_t length = static_cast<size_t>(lineEnd - line);
        if (length > 0 && line[length - 1] == '\r') --length;
        if (first) {
            if (!ReadStatusLine(line, length)) return Fail(FetchStatus::kMalformedResponse);
            first = false;
        } else if (length > 0 && line[0] != ' ' && line[0] != '\t') {
            // A line that begins with a blank continues the one before (obsolete line
            // folding); none of the fields read here is ever folded.
            const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
            if (colon != nullptr) {
                const char* value = colon + 1;
                size_t valueLength = static_cast<size_t>(line + length - value);
                TrimBlanks(&value, &valueLength);
                ReadField(line, static_cast<size_t>(colon - line), value, valueLength);
            }
        }
        line = lineEnd + 1;
    }

    // Interim responses (100 Continue, 103 Early Hints) come before the final one.
    if (status_ >= 100 && status_ < 200 && status_ != 101) {
        blockStart_ = headerEnd_;
        return progress_;
    }
    return ChooseFraming();
}

// "HTTP/" digit "." digit, a space, three digits, and a space or the line's end.
bool ResponseRules::ReadStatusLine(const char* line, size_t length) {
    if (length < 12 || std::memcmp(line, "HTTP/", 5) != 0 || !IsDigit(line[5]) || line[6] != '.' ||
        !IsDigit(line[7]) || line[8] != ' ' || !IsDigit(line[9]) || !IsDigit(line[10]) ||
        !IsDigit(line[11]) || (length > 12 && line[12] != ' '))
        return false;
    status_ = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    http11_ = line[5] == '1' && line[7] == '1';
    return status_ >= 100 && status_ <= 599;
}

bool ResponseRules::ReadField(const char* name, size_t nameLength, const char* value,
                              size_t valueLength) {
    if (IsWordNoCase(name, nameLength, "content-length")) return ReadLength(value, valueLength);
    if (IsWordNoCase(name, nameLength, "transfer-encoding")) {
        hasTransferCoding_ = true;
        return AddCodings(value, valueLength, true);
    }
    if (IsWordNoCase(name, nameLength, "content-encoding"))
        return AddCodings(value, valueLength, false);
    if (IsWordNoCase(name, nameLength, "connection")) {
        ForEachElement(value, valueLength, [&](const char* option, size_t n) {
            if (IsWordNoCase(option, n, "close")) closes_ = true;
            return true;
        });
    }
    int64_t seconds;
    if (IsWordNoCase(name, nameLength, "last-modified") && lastModified_ < 0 &&
        ParseHttpDate(std::string_view(value, valueLength), &seconds) && seconds >= 0)
        lastModified_ = seconds;
    if (IsWordNoCase(name, nameLength, "content-type") && contentType_[0] == '\0' &&
        valueLength < sizeof contentType_)
        std::memcpy(contentType_, value, valueLength);
    if (IsWordNoCase(name, nameLength, "location") && !hasLocation_) {
        hasLocation_ = true;
        locationStart_ = static_cast<size_t>(value - data_);
        locationLength_ = valueLength;
    }
    return true;
}

// Digits only; a field repeated, or a list, must give the same number every time. Anything
// else (no digits, a sign, more digits than any length, two numbers) makes the framing
// unreadable: where the body ends cannot be known, so no end that comes may be trusted.
bool ResponseRules::ReadLength(const char* value, size_t length) {
    if (lengthInvalid_) return false;
    bool ok = ForEachElement(value, length, [&](const char* digits, size_t n) {
        if (n > kMostLengthDigits) return false;
        int64_t number = 0;
        for (size_t i = 0; i < n; ++i) {
            if (!IsDigit(digits[i])) return false;
            number = number * 10 + (digits[i] - '0');
        }
        if (contentLength_ >= 0 && contentLength_ != number) return false;
        contentLength_ = number;
        return true;
    });
    if (!ok || contentLength_ < 0) {
        lengthInvalid_ = true;
        contentLength_ = -1;
    }
    return !lengthInvalid_;
}

// Codings are listed in the order they were applied. Only those the request offered can be
// undone; chunked, a framing, may stand only last among the transfer codings.
bool ResponseRules::AddCodings(const char* value, size_t length, bool transfer) {
    Coding* list = transfer ? transfer_ : content_;
    size_t& count = transfer ? transferCount_ : contentCount_;
    return ForEachElement(value, length, [&](const char* name, size_t n) {
        if (chunked_ && transfer) chunkedNotLast_ = true;
        if (transfer && IsWordNoCase(name, n, "chunked")) {
            chunked_ = true;
            return true;
        }
        if (IsWordNoCase(name, n, "identity")) return true;
        Coding coding;
        if (IsWordNoCase(name, n, "gzip") || IsWordNoCase(name, n, "x-gzip")) {
            coding = Coding::kGzip;
        } else if (IsWordNoCase(name, n, "deflate")) {
            coding = Coding::kDeflate;
        } else {
            unsupportedCoding_ = true;
            return false;
        }
        if (count == kMostCodings) {
            unsupportedCoding_ = true;
            return false;
        }
        list[count++] = coding;
        return true;
    });
}

ResponseRules::Progress ResponseRules::ChooseFraming() {
    bodyStart_ = headerEnd_;
    framing_ = Framing::kNone;
    framed_ = true;
    const bool success = status_ >= 200 && status_ < 300;
    if (policy_ == RedirectPolicy::kFollow && IsRedirectStatus(status_) && hasLocation_) {
        redirect_ = true;
        return Complete(0);  // its body is not needed
    }
    if (!success && !(policy_ == RedirectPolicy::kReturn && status_ >= 300 && status_ < 400))
        return Fail(HttpStatusResult(status_));
    if (unsupportedCoding_) return Fail(FetchStatus::kUnsupportedCoding);
    if (chunkedNotLast_) return Fail(FetchStatus::kMalformedResponse);

    // Transfer codings were applied last, so they are undone first; each list backwards.
    codingCount_ = 0;
    for (size_t i = transferCount_; i > 0; --i) codings_[codingCount_++] = transfer_[i - 1];
    for (size_t i = contentCount_; i > 0; --i) codings_[codingCount_++] = content_[i - 1];

    if (status_ == 204 || status_ == 304) return Complete(0);
    // A transfer coding frames the body by itself; the length is then not read (RFC 9112
    // section 6.3).
    if (lengthInvalid_ && !hasTransferCoding_) return Fail(FetchStatus::kBadContentLength);
    if (hasTransferCoding_) {
        framing_ = chunked_ ? Framing::kChunked : Framing::kToClose;
    } else if (contentLength_ == 0) {
        return Complete(0);
    } else {
        framing_ = contentLength_ > 0 ? Framing::kLength : Framing::kToClose;
    }
    return progress_;
}

}  // namespace qm
