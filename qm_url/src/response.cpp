#include "response.h"

#include <cstring>
#include <limits>

#include "ascii.h"

namespace qm {
namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void TrimBlanks(const char** text, size_t* length) {
    while (*length > 0 && (**text == ' ' || **text == '\t')) ++*text, --*length;
    while (*length > 0 && ((*text)[*length - 1] == ' ' || (*text)[*length - 1] == '\t')) --*length;
}

// A Transfer-Encoding value names the codings in the order they were applied; the body is
// delimited by chunks when the last of them is "chunked".
bool EndsInChunked(const char* value, size_t length) {
    const char* last = value;
    for (size_t i = 0; i < length; ++i)
        if (value[i] == ',') last = value + i + 1;
    size_t lastLength = length - static_cast<size_t>(last - value);
    TrimBlanks(&last, &lastLength);
    return IsWordNoCase(last, lastLength, "chunked");
}

}  // namespace

int32_t ConvertNumber(const char* text, size_t length) {
    if (length > kNumberTextSize - 1) length = kNumberTextSize - 1;
    size_t i = 0;
    while (i < length && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

bool ResponseRules::FirstOccurrence::Find(const char* data, size_t count, size_t from) {
    if (found_) return true;
    if (next_ < from) next_ = from;
    while (next_ + length_ <= count) {
        const void* hit = std::memchr(data + next_, text_[0], count - next_ - length_ + 1);
        if (hit == nullptr) {
            next_ = count - length_ + 1;
            return false;
        }
        size_t at = static_cast<size_t>(static_cast<const char*>(hit) - data);
        if (std::memcmp(data + at, text_, length_) == 0) {
            found_ = true;
            where_ = at;
            return true;
        }
        next_ = at + 1;
    }
    return false;
}

bool ResponseRules::Update(size_t count) {
    // The header searches run only until the header's end is known, each over all the data
    // received by then.
    if (headerEnd_ == 0) {
        if (!codingRead_) SearchCoding(count);
        if (!statusRead_) SearchStatus(count);
        if (headerEndText_.Find(data_, count)) {
            headerEnd_ = headerEndText_.Where() + 4;
            ReadHeaderFields();
        }
    }
    if (!lengthRead_) SearchContentLength(count);

    if (chunked_) {
        if (chunkStatus_ == ChunkScanner::Status::NeedMore)
            chunkStatus_ = chunks_.Scan(data_ + headerEnd_, count - headerEnd_);
        // A malformed chunk ends the exchange too: de-chunking reports it.
        return chunkStatus_ != ChunkScanner::Status::NeedMore;
    }
    if (ZeroLengthInHeader()) return true;
    return contentLength_ != 0 && headerEnd_ != 0 && count > 0 &&
           static_cast<int64_t>(count) - static_cast<int64_t>(headerEnd_) >= contentLength_;
}

FetchCoding ResponseRules::Coding() const {
    if (gzip_) return FETCH_GZIP;
    if (deflate_) return FETCH_DEFLATE;
    if (status_ == 404) return FETCH_FAILED;
    return FETCH_PLAIN;
}

// The value is looked at only once the line has ended; only the first occurrence counts.
void ResponseRules::SearchCoding(size_t count) {
    if (!codingText_.Find(data_, count)) return;
    size_t value = codingText_.Where() + 18;
    if (!codingEnd_.Find(data_, count, value)) return;
    size_t available = count - value;
    if (available >= 4 && std::memcmp(data_ + value, "gzip", 4) == 0) gzip_ = true;
    else if (available >= 7 && std::memcmp(data_ + value, "deflate", 7) == 0) deflate_ = true;
    codingRead_ = true;
}

// The status is the number between the first two spaces after the first "HTTP".
void ResponseRules::SearchStatus(size_t count) {
    if (!statusText_.Find(data_, count)) return;
    if (!statusSpace1_.Find(data_, count, statusText_.Where())) return;
    size_t first = statusSpace1_.Where();
    if (!statusSpace2_.Find(data_, count, first + 1)) return;
    status_ = ConvertNumber(data_ + first + 1, statusSpace2_.Where() - first - 1);
    statusRead_ = true;
}

void ResponseRules::SearchContentLength(size_t count) {
    if (!lengthText_.Find(data_, count)) return;
    size_t value = lengthText_.Where() + 16;
    if (!lengthEnd_.Find(data_, count, value)) return;
    size_t length = lengthEnd_.Where() - value;
    contentLength_ = ConvertNumber(data_ + value, length);
    lengthRead_ = true;

    // Whether the value is written as zero, not merely converts to it ("abc" does too).
    const char* text = data_ + value;
    TrimBlanks(&text, &length);
    lengthTextIsZero_ = length > 0;
    for (size_t i = 0; i < length; ++i)
        if (text[i] != '0') lengthTextIsZero_ = false;
}

// A body declared empty in the header is complete at the header's end: a server that keeps
// the connection alive sends nothing more and never closes.
bool ResponseRules::ZeroLengthInHeader() const {
    return headerEnd_ != 0 && lengthRead_ && lengthTextIsZero_ &&
           lengthEnd_.Where() + 2 <= headerEnd_;
}

void ResponseRules::ReadHeaderFields() {
    const char* line = data_;
    const char* end = data_ + headerEnd_;
    while (line < end) {
        const char* lineEnd = static_cast<const char*>(
            std::memchr(line, '\n', static_cast<size_t>(end - line)));
        if (lineEnd == nullptr) lineEnd = end;
        size_t length = static_cast<size_t>(lineEnd - line);
        if (length > 0 && line[length - 1] == '\r') --length;
        const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
        if (colon != nullptr) {
            const char* name = line;
            size_t nameLength = static_cast<size_t>(colon - line);
            TrimBlanks(&name, &nameLength);
            if (IsWordNoCase(name, nameLength, "transfer-encoding") &&
                EndsInChunked(colon + 1, static_cast<size_t>(line + length - (colon + 1))))
                chunked_ = true;
        }
        line = lineEnd + 1;
    }
}

}  // namespace qm
