#include "single_file_outputs.h"

#include "ascii.h"

namespace qm {
namespace {

constexpr size_t kFileBlock = 1 << 16;

}  // namespace

FileOutput::FileOutput(const char* path, int64_t mostBytes)
    : path_(path),
      mostBytes_(mostBytes) {
    opened_ = file_.Create(path);
    buffer_.reserve(kFileBlock);
}

bool FileOutput::Put(const char* data, size_t size) {
    if (!opened_ || tooLarge_) return false;
    if (static_cast<int64_t>(size) > mostBytes_ - written_) {
        tooLarge_ = true;
        return false;
    }
    written_ += static_cast<int64_t>(size);
    if (buffer_.size() + size > kFileBlock && !Flush()) return false;
    if (size >= kFileBlock) return file_.Append(data, size) || (opened_ = false);
    buffer_.append(data, size);
    return true;
}

bool FileOutput::Flush() {
    if (buffer_.empty()) return true;
    if (!file_.Append(buffer_.data(), buffer_.size())) return opened_ = false;
    buffer_.clear();
    return true;
}

bool FileOutput::Finish() { return opened_ && !tooLarge_ && Flush() && file_.RenameTo(path_.c_str()); }

bool Base64Output::Put(const char* data, size_t size) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char block[4096];
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) {
        pending_[count_++] = static_cast<unsigned char>(data[i]);
        if (count_ < 3) continue;
        block[n++] = kDigits[pending_[0] >> 2];
        block[n++] = kDigits[((pending_[0] & 3) << 4) | (pending_[1] >> 4)];
        block[n++] = kDigits[((pending_[1] & 15) << 2) | (pending_[2] >> 6)];
        block[n++] = kDigits[pending_[2] & 63];
        count_ = 0;
        if (n == sizeof block) {
            if (!inner_.Put(block, n)) return false;
            n = 0;
        }
    }
    return n == 0 || inner_.Put(block, n);
}

bool Base64Output::Finish() {
    if (count_ == 0) return true;
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char b1 = count_ > 1 ? pending_[1] : 0;
    char tail[4] = {kDigits[pending_[0] >> 2], kDigits[((pending_[0] & 3) << 4) | (b1 >> 4)],
                    count_ > 1 ? kDigits[(b1 & 15) << 2] : '=', '='};
    count_ = 0;
    return inner_.Put(tail, 4);
}

bool AttributeOutput::Put(const char* data, size_t size) {
    size_t from = 0;
    for (size_t i = 0; i < size; ++i) {
        const char* escape = data[i] == '&' ? "&amp;" : data[i] == '"' ? "&quot;" : nullptr;
        if (escape == nullptr) continue;
        if (!inner_.Put(data + from, i - from) || !inner_.Put(escape)) return false;
        from = i + 1;
    }
    return inner_.Put(data + from, size - from);
}

bool RawTextOutput::Put(const char* data, size_t size) {
    std::string text = held_;
    text.append(data, size);
    held_.clear();
    const size_t k = name_.size() + 2;  // "</" and the name
    size_t from = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '<' || text[i + 1] != '/') continue;
        if (i + k > text.size()) {
            // The end of what came so far may begin an end tag: it waits for what follows.
            if (!inner_.Put(text.data() + from, i - from)) return false;
            held_ = text.substr(i);
            return true;
        }
        if (!EqualNoCase(text.data() + i + 2, name_.data(), name_.size())) continue;
        if (!inner_.Put(text.data() + from, i + 1 - from) || !inner_.Put("\\")) return false;
        from = i + 1;
    }
    if (!text.empty() && text.back() == '<') {
        held_ = "<";
        return inner_.Put(text.data() + from, text.size() - 1 - from);
    }
    return inner_.Put(text.data() + from, text.size() - from);
}

bool RawTextOutput::Finish() {
    std::string rest;
    rest.swap(held_);
    return inner_.Put(rest.data(), rest.size());
}

}  // namespace qm
