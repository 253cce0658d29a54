// One HTTP exchange as it went over the connection, for the web archive: the request text
// and the response's bytes as they came, before any coding is undone. The response is kept
// in memory while it is small, then in a temporary file beside the archive, so that an item
// of any size is recorded whole; its digests are taken as it arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "sha1.h"

namespace qm {

namespace platform {
class TempFile;
}

class ExchangeCapture {
public:
    // A response past `inMemory` bytes moves to a temporary file beside `spoolBeside`.
    ExchangeCapture(std::string spoolBeside, size_t inMemory);
    ~ExchangeCapture();
    ExchangeCapture(const ExchangeCapture&) = delete;
    ExchangeCapture& operator=(const ExchangeCapture&) = delete;

    // The exchange begins anew (its request is sent again on another connection): what was
    // captured is forgotten.
    void Restart();
    void Sent(const char* text, size_t length);
    void Received(const char* data, size_t length);
    // The response ended before its end: not read to its end, cut short, or failed, and why
    // (a WARC-Truncated reason: "length", "time", "disconnect" or "unspecified").
    void Truncated(const char* reason) { truncated_ = reason; }

    bool sent() const { return sentAt_ != 0; }
    std::time_t sentAt() const { return sentAt_; }
    const std::string& request() const { return request_; }
    // The response's status line and header (as far as they came, up to 64 KiB).
    const std::string& head() const { return head_; }
    int64_t responseSize() const { return responseSize_; }
    const char* truncated() const { return truncated_; }
    // False once a part of the response could not be kept: it cannot be recorded whole.
    bool kept() const { return kept_; }
    // The digests of the response: of all of it, and of what follows its header.
    std::string BlockDigest() const;
    std::string PayloadDigest() const;
    // Hands the response's bytes to `take`, in order, while it returns true.
    bool ReadResponse(const std::function<bool(const char*, size_t)>& take) const;

private:
    const std::string spoolBeside_;
    const size_t inMemory_;
    std::string request_;
    std::time_t sentAt_ = 0;
    std::string head_;
    std::string memory_;
    std::unique_ptr<platform::TempFile> spool_;
    int64_t responseSize_ = 0;
    Sha1 block_, payload_;
    int headerEndMatched_ = 0;  // bytes of "\r\n\r\n" seen so far; 4 once the header ended
    const char* truncated_ = nullptr;
    bool kept_ = true;
};

}  // namespace qm
