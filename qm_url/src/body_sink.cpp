#include "body_sink.h"

#include <algorithm>
#include <utility>

#include "platform/files.h"
#include "qm_url.h"

namespace qm {

BodySink::BodySink(size_t inMemory, std::string finalPath, int64_t mostBytes, int64_t budget)
    : inMemory_(inMemory), finalPath_(std::move(finalPath)), mostBytes_(mostBytes), budget_(budget) {}

BodySink::BodySink(size_t inMemory) : BodySink(inMemory, std::string(), SAVE_BUDGET_BYTES) {}

BodySink::~BodySink() = default;
BodySink::BodySink(BodySink&&) noexcept = default;
BodySink& BodySink::operator=(BodySink&&) noexcept = default;

bool BodySink::inFile() const { return file_ != nullptr; }

bool BodySink::AcceptsCoded(int64_t codedBytes) {
    if (mostBytes_ < 0 || codedBytes <= mostBytes_) return true;
    TooLarge();
    return false;
}

void BodySink::TooLarge() {
    failure_ = budget_ != 0 ? BudgetResult(FetchStatus::kByteBudgetReached, budget_)
                            : SizeLimitResult(mostBytes_);
    file_.reset();  // removes the temporary file
    std::string().swap(memory_);
}

bool BodySink::Put(const char* data, size_t length) {
    if (!failure_.ok() || cut_) return false;
    if (mostBytes_ >= 0 && size_ + static_cast<int64_t>(length) > mostBytes_) {
        TooLarge();
        return false;
    }
    if (!file_ && memory_.size() + length > inMemory_) {
        if (finalPath_.empty()) {
            const size_t room = inMemory_ - memory_.size();
            memory_.append(data, room);
            size_ += static_cast<int64_t>(room);
            cut_ = true;
            return false;
        }
        if (!Spill()) return false;
    }
    if (file_) {
        if (!file_->Append(data, length)) {
            failure_ = FetchStatus::kWriteFailed;
            file_.reset();
            return false;
        }
    } else {
        memory_.append(data, length);
    }
    size_ += static_cast<int64_t>(length);
    return true;
}

bool BodySink::Spill() {
    if (makeFolders_) platform::CreateFoldersFor(finalPath_.c_str());
    file_ = std::make_unique<platform::TempFile>();
    if (!file_->Create(finalPath_.c_str()) || !file_->Append(memory_.data(), memory_.size())) {
        failure_ = FetchStatus::kWriteFailed;
        file_.reset();
        return false;
    }
    std::string().swap(memory_);
    return true;
}

void BodySink::Clear() {
    file_.reset();
    std::string().swap(memory_);
    size_ = 0;
    cut_ = false;
    failure_ = FetchResult();
}

bool BodySink::ReadInto(std::string* text) const {
    if (!file_) {
        *text = memory_;
        return true;
    }
    return platform::ReadWholeFile(file_->path().c_str(), text);
}

bool BodySink::SaveAs(const char* path) {
    if (!file_) return platform::WriteFileAtomically(path, memory_.data(), memory_.size());
    bool ok = file_->RenameTo(path);
    file_.reset();
    return ok;
}

}  // namespace qm
