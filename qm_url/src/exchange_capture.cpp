#include "exchange_capture.h"

#include <algorithm>

#include "platform/files.h"

namespace qm {
namespace {

constexpr size_t kHeadRoom = 65536;

}  // namespace

ExchangeCapture::ExchangeCapture(std::string spoolBeside, size_t inMemory)
    : spoolBeside_(std::move(spoolBeside)),
      inMemory_(inMemory) {}

ExchangeCapture::~ExchangeCapture() = default;

void ExchangeCapture::Restart() {
    request_.clear();
    sentAt_ = 0;
    head_.clear();
    memory_.clear();
    spool_.reset();
    responseSize_ = 0;
    block_ = Sha1();
    payload_ = Sha1();
    headerEndMatched_ = 0;
    truncated_ = nullptr;
    kept_ = true;
}

void ExchangeCapture::Sent(const char* text, size_t length) {
    request_.assign(text, length);
    sentAt_ = std::time(nullptr);
}

void ExchangeCapture::Received(const char* data, size_t length) {
    if (length == 0) return;
    responseSize_ += static_cast<int64_t>(length);
    block_.Update(data, length);
    // The payload is what follows the header's blank line, as archive readers split it.
    size_t i = 0;
    static const char kEnd[] = "\r\n\r\n";
    while (headerEndMatched_ < 4 && i < length) {
        const char c = data[i++];
        if (c == kEnd[headerEndMatched_]) ++headerEndMatched_;
        else headerEndMatched_ = c == '\r' ? 1 : 0;
    }
    head_.append(data, std::min(i, kHeadRoom - std::min(kHeadRoom, head_.size())));
    if (i < length) payload_.Update(data + i, length - i);

    if (!kept_) return;
    if (!spool_ && memory_.size() + length <= inMemory_) {
        memory_.append(data, length);
        return;
    }
    if (!spool_) {
        spool_ = std::make_unique<platform::TempFile>();
        kept_ =
            spool_->Create(spoolBeside_.c_str()) && spool_->Append(memory_.data(), memory_.size());
        std::string().swap(memory_);
    }
    kept_ = kept_ && spool_->Append(data, length);
}

std::string ExchangeCapture::BlockDigest() const {
    Sha1 hash = block_;
    return WarcDigest(hash);
}

std::string ExchangeCapture::PayloadDigest() const {
    Sha1 hash = payload_;
    return WarcDigest(hash);
}

bool ExchangeCapture::ReadResponse(const std::function<bool(const char*, size_t)>& take) const {
    if (!kept_) return false;
    if (!spool_) return memory_.empty() || take(memory_.data(), memory_.size());
    int64_t left = responseSize_;
    bool refused = false;
    // Only the bytes captured are read, whatever the file holds past them.
    platform::ReadFileInPieces(spool_->path().c_str(), [&](const char* piece, size_t n) {
        const size_t used = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(n)));
        left -= static_cast<int64_t>(used);
        refused = used > 0 && !take(piece, used);
        return !refused && left > 0;
    });
    return !refused && left == 0;
}

}  // namespace qm
