// De-chunking and undoing codings, on bodies made here with zlib.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "decode.h"
#include "qm_url.h"
#include "zlib_util.h"

namespace {

using qmtest::Compress;

struct Inflated {
    bool ok;
    std::string out;
};

Inflated Undo(qm::Coding coding, const std::string& coded, uint32_t capacity = FETCH_BUFFER_SIZE) {
    static std::vector<char> area(FETCH_BUFFER_SIZE);
    bool ok = qm::UndoCoding(coding, coded.data(), static_cast<uint32_t>(coded.size()), area.data(),
                             &capacity);
    return {ok, ok ? std::string(area.data(), capacity) : std::string()};
}

TEST(UndoCoding, Codings) {
    using qm::Coding;
    const std::string text = qmtest::SampleText(100000);
    const std::string gzip = Compress(text, qmtest::Wrapper::Gzip);
    const std::string raw = Compress(text, qmtest::Wrapper::Raw);
    std::string damaged = gzip;
    damaged[damaged.size() - 3] ^= 0x55;  // the length check at the end
    struct Case {
        const char* name;
        Coding coding;
        std::string coded;
        bool ok;
        std::string out;
    };
    // The fetch table holds the rest: zlib streams, bytes after a member, streams cut short.
    const Case cases[] = {
        {"gzip", Coding::kGzip, gzip, true, text},
        {"raw deflate", Coding::kDeflate, raw, true, text},
        {"gzip in three members", Coding::kGzip, gzip + Compress("b", qmtest::Wrapper::Gzip) + gzip,
         true, text + "b" + text},
        {"empty body", Coding::kGzip, "", true, ""},
        {"raw deflate labelled gzip fails", Coding::kGzip, raw, false, ""},
        {"a damaged check fails", Coding::kGzip, damaged, false, ""},
        {"a raw stream cut short fails", Coding::kDeflate, raw.substr(0, raw.size() - 1), false,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Inflated r = Undo(c.coding, c.coded);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.out, c.out);  // empty on failure
    }
}

TEST(UndoCoding, StopsAtTheCapacity) {
    const std::string text = qmtest::SampleText(50000);
    // The output stops at the capacity, even though more would follow.
    Inflated capped = Undo(qm::Coding::kGzip, Compress(text, qmtest::Wrapper::Gzip), 1234);
    EXPECT_TRUE(capped.ok);
    EXPECT_EQ(capped.out, text.substr(0, 1234));

    // A stream that inflates past the area gives the area, full.
    const std::string big(FETCH_BUFFER_SIZE + 4096, 'a');
    Inflated r = Undo(qm::Coding::kGzip, Compress(big, qmtest::Wrapper::Gzip));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out.size(), static_cast<size_t>(FETCH_BUFFER_SIZE));
    EXPECT_EQ(r.out.find_first_not_of('a'), std::string::npos);
}

struct Dechunked {
    bool ok;
    std::string body;
};

Dechunked RunDechunk(std::string body, bool cut = false) {
    int32_t length = static_cast<int32_t>(body.size());
    std::string before = body;
    bool ok = qm::Dechunk(&body[0], &length, cut);
    if (!ok) {
        EXPECT_EQ(body, before) << "a failed de-chunk changed the body";
        EXPECT_EQ(length, static_cast<int32_t>(before.size()));
    }
    return {ok, body.substr(0, static_cast<size_t>(length))};
}

TEST(Dechunk, Bodies) {
    struct Case {
        const char* name;
        std::string chunked;
        bool cut;
        bool ok;
        std::string body;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dechunked r = RunDechunk(c.chunked, c.cut);
        EXPECT_EQ(r.ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(r.body, c.body);
        }
    }
}

TEST(Dechunk, ScannerGoesOnWhereItStopped) {
    const std::string body = "3\r\nabc\r\n2;e\r\nde\r\n0\r\nT: 1\r\n\r\n";
    for (size_t cut = 0; cut <= body.size(); ++cut) {
        SCOPED_TRACE(cut);
        qm::ChunkScanner scanner;
        EXPECT_EQ(scanner.Scan(body.data(), cut), cut == body.size()
                                                      ? qm::ChunkScanner::Status::Complete
                                                      : qm::ChunkScanner::Status::NeedMore);
        EXPECT_EQ(scanner.Scan(body.data(), body.size()), qm::ChunkScanner::Status::Complete);
        EXPECT_EQ(scanner.End(), body.size());
    }
}

}  // namespace
