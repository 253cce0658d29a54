// Where a body goes: memory while it is small, then a temporary file beside its final name,
// renamed into place once whole; past its limit it fails, and leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "body_sink.h"
#include "scratch.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string().substr(0, 3));
    return names;
}

TEST(BodySink, MemoryThenAFileBesideItsNameAndNothingPastTheLimit) {
    qmtest::ScratchFolder scratch("qm-sink");
    const fs::path& folder = scratch.Root();
    const std::string path = (folder / "body.bin").string();
    const struct {
        const char* name;
        size_t inMemory;
        int64_t limit;
        std::vector<std::string> pieces;
        bool accepted, inFile;
        FetchStatus failure;
        std::vector<std::string> whileOpen;  // the folder before the body is saved
    } rows[] = {
        {"small", 8, 100, {"abc", "de"}, true, false, FetchStatus::kOk, {}},
        {"large", 4, 100, {"abc", "defgh", "ij"}, true, true, FetchStatus::kOk, {"~qm"}},
        {"at the limit", 4, 6, {"abc", "def"}, true, true, FetchStatus::kOk, {"~qm"}},
        {"past the limit in memory", 8, 6, {"abc", "defg"}, false, false, FetchStatus::kTooLarge, {}},
        {"past the limit in its file", 2, 6, {"abc", "defg"}, false, false, FetchStatus::kTooLarge,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string whole;
        bool accepted = true;
        {
            BodySink sink(row.inMemory, path, row.limit);
            for (const std::string& piece : row.pieces) {
                accepted = accepted && sink.Put(piece.data(), piece.size());
                whole += piece;
            }
            EXPECT_EQ(accepted, row.accepted);
            EXPECT_EQ(sink.inFile(), row.inFile);
            EXPECT_EQ(sink.failure().status, row.failure);
            EXPECT_EQ(Names(folder), row.whileOpen);
            if (accepted) {
                std::string read;
                EXPECT_TRUE(sink.ReadInto(&read));
                EXPECT_EQ(read, whole);
                ASSERT_TRUE(sink.SaveAs(path.c_str()));
                EXPECT_EQ(qmtest::ReadFile(path), whole);
                fs::remove(path);
            }
        }
        EXPECT_TRUE(fs::is_empty(folder));  // a body not saved leaves no file
    }

    // Without a final name a body is cut where memory ends, which is no failure.
    BodySink cut(4);
    EXPECT_FALSE(cut.Put("abcdef", 6));
    EXPECT_TRUE(cut.cut());
    EXPECT_TRUE(cut.failure().ok());
    EXPECT_EQ(cut.memory(), "abcd");
}

}  // namespace
}  // namespace qm
