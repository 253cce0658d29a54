// De-chunking on its own; the fetch table undoes the codings end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode.h"
#include "qm_url.h"
#include "zlib_util.h"

namespace {

TEST(Dechunk, Bodies) {
    const struct {
        const char* name;
        std::string chunked;
        bool cut;
        bool ok;
        std::string body;
    } cases[] = {
        {"two chunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", false, true, "hello world"},
        {"hex sizes in both cases", "a\r\n0123456789\r\nB\r\nabcdefghijk\r\n0\r\n\r\n", false, true,
         "0123456789abcdefghijk"},
        {"extensions and blanks", "3 ;name=v\r\nabc\r\n0;x\r\n\r\n", false, true, "abc"},
        {"trailer fields", "1\r\nx\r\n0\r\nExpires: never\r\nX-A: b\r\n\r\n", false, true, "x"},
        {"bare line feeds", "2\nab\n0\n\n", false, true, "ab"},
        {"leading zeros", "0003\r\nabc\r\n0\r\n\r\n", false, true, "abc"},
        {"chunk data holding CR LF", "4\r\n\r\n\r\n\r\n0\r\n\r\n", false, true, "\r\n\r\n"},
        {"empty body", "0\r\n\r\n", false, true, ""},
        {"bytes after the last chunk are dropped", "1\r\nx\r\n0\r\n\r\nextra", false, true, "x"},
        {"not hex", "zz\r\nab\r\n0\r\n\r\n", false, false, ""},
        {"nothing at all", "", false, false, ""},
        {"hex then junk", "1g\r\nx\r\n0\r\n\r\n", false, false, ""},
        {"overflowing size", "fffffffffffffffff\r\nx\r\n0\r\n\r\n", false, false, ""},
        {"larger than any area", "a00001\r\nx\r\n0\r\n\r\n", false, false, ""},
        {"running past the data", "10\r\nshort\r\n0\r\n\r\n", false, false, ""},
        {"no line end after the data", "2\r\nabc\r\n0\r\n\r\n", false, false, ""},
        {"no last chunk", "2\r\nab\r\n", false, false, ""},
        {"cut at the area's end keeps what came", "2\r\nab\r\n10\r\nshort", true, true, "abshort"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body = c.chunked;
        int32_t length = static_cast<int32_t>(body.size());
        bool ok = qm::Dechunk(&body[0], &length, c.cut);
        EXPECT_EQ(ok, c.ok);
        // A failed de-chunk leaves the body as it was.
        EXPECT_EQ(body.substr(0, static_cast<size_t>(length)), c.ok ? c.body : c.chunked);
    }
}

// A coded body is whole only with its stream's end (and check): cut anywhere before it, it
// fails, whatever it decoded to so far. "deflate" takes the zlib format and raw deflate.
TEST(UndoCoding, EveryCutFailsAndTheWholeStreamDecodes) {
    using qmtest::Wrapper;
    const std::string text = qmtest::SampleText(200000);
    const struct {
        const char* name;
        qm::Coding coding;
        Wrapper wrapper;
    } rows[] = {
        {"gzip", qm::Coding::kGzip, Wrapper::Gzip},
        {"zlib labelled gzip", qm::Coding::kGzip, Wrapper::Zlib},
        {"zlib labelled deflate", qm::Coding::kDeflate, Wrapper::Zlib},
        {"raw deflate", qm::Coding::kDeflate, Wrapper::Raw},
    };
    std::vector<char> out(text.size() + 1);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string coded = qmtest::Compress(text, row.wrapper);
        uint32_t capacity = static_cast<uint32_t>(out.size());
        ASSERT_TRUE(qm::UndoCoding(row.coding, coded.data(), static_cast<uint32_t>(coded.size()),
                                   out.data(), &capacity));
        EXPECT_EQ(std::string(out.data(), capacity), text);
        // Every cut near both ends, and a spread between them.
        for (size_t cut = 1; cut < coded.size(); cut += cut < 64 || cut > coded.size() - 64 ? 1 : 97) {
            SCOPED_TRACE(cut);
            capacity = static_cast<uint32_t>(out.size());
            EXPECT_FALSE(qm::UndoCoding(row.coding, coded.data(), static_cast<uint32_t>(cut),
                                        out.data(), &capacity));
        }
    }
}

}  // namespace
