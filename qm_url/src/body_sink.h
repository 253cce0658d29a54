// Where a body goes as it is decoded: into memory while it is small, then into a temporary
// file beside the file it is to become, renamed into place once it is whole. A body past its
// limit is refused, and nothing of it is left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "decode.h"
#include "fetch_status.h"

namespace qm {

namespace platform {
class TempFile;
}

class BodySink : public ByteSink {
public:
    // Kept in memory up to `inMemory` bytes. Past that, with a `finalPath`, the body moves to
    // a temporary file beside it; without one, it is cut there (cut() tells, and the decoding
    // ends). More than `mostBytes` in all (-1: no limit) fails with kTooLarge, or with
    // kByteBudgetReached naming `budget` when that is not 0: the limit is then what a save of
    // that budget has left.
    BodySink(size_t inMemory, std::string finalPath, int64_t mostBytes, int64_t budget = 0);
    // A body of at most `inMemory` bytes, cut there. A coded body that gives less than that
    // from more than SAVE_BUDGET_BYTES is refused as too large.
    explicit BodySink(size_t inMemory);
    BodySink() : BodySink(0) {}
    ~BodySink();
    BodySink(BodySink&&) noexcept;
    BodySink& operator=(BodySink&&) noexcept;

    // The folders of the final path are made when the body moves to its file.
    void MakeFolders() { makeFolders_ = true; }

    bool Put(const char* data, size_t length) override;
    // Whether a coded body of `codedBytes` so far is still within the limit (a stream that
    // decodes to little or nothing must end too); sets the failure when not.
    bool AcceptsCoded(int64_t codedBytes);
    // Forgets what was put, for the next response of a fetch.
    void Clear();

    // Why Put refused more, when it was not a cut.
    const FetchResult& failure() const { return failure_; }
    bool cut() const { return cut_; }
    int64_t size() const { return size_; }
    bool inFile() const;
    // The body while it is in memory.
    const std::string& memory() const { return memory_; }
    std::string& memory() { return memory_; }
    // The whole body in `text`, from memory or from its file.
    bool ReadInto(std::string* text) const;
    // Puts the body at `path` (the finalPath it was made with): its file is renamed there, a
    // body in memory is written under a temporary name and renamed.
    bool SaveAs(const char* path);

private:
    bool Spill();
    void TooLarge();

    size_t inMemory_;
    std::string finalPath_;
    int64_t mostBytes_;
    int64_t budget_;
    bool makeFolders_ = false;
    std::string memory_;
    std::unique_ptr<platform::TempFile> file_;
    int64_t size_ = 0;
    bool cut_ = false;
    FetchResult failure_;
};

}  // namespace qm
