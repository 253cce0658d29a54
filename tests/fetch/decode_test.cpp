// Header removal, de-chunking and the two inflaters, on bodies made here with zlib.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "decode.h"
#include "qm_url.h"
#include "zlib_util.h"

namespace {

using qmtest::Compress;

std::string Stripped(std::string data, bool* found) {
    int32_t length = static_cast<int32_t>(data.size());
    *found = qm::StripResponseHeader(&data[0], &length);
    return data.substr(0, static_cast<size_t>(length));
}

TEST(StripResponseHeader, CutsAtTheFirstBlankLineOnly) {
    bool found = false;
    EXPECT_EQ(Stripped("HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody\r\n\r\nmore", &found),
              "body\r\n\r\nmore");
    EXPECT_TRUE(found);
    EXPECT_EQ(Stripped("HTTP/1.1 200 OK\r\n\r\n", &found), "");
    EXPECT_TRUE(found);
    EXPECT_EQ(Stripped("HTTP/1.1 200 OK\r\n\r", &found), "HTTP/1.1 200 OK\r\n\r");
    EXPECT_FALSE(found);
    EXPECT_EQ(Stripped("", &found), "");
    EXPECT_FALSE(found);
    // The blank line must lie within the length given.
    std::string data = "ab\r\n\r\n";
    int32_t length = 5;
    EXPECT_FALSE(qm::StripResponseHeader(&data[0], &length));
    EXPECT_EQ(length, 5);
}

struct Inflated {
    bool ok;
    std::string out;
};

Inflated InflateBody(bool gzip, const std::string& coded, uint32_t capacity = FETCH_BUFFER_SIZE,
                     uint32_t codedLength = UINT32_MAX) {
    if (codedLength == UINT32_MAX) codedLength = static_cast<uint32_t>(coded.size());
    bool ok = gzip ? qm::InflateGzip(coded.data(), codedLength, &capacity)
                   : qm::InflateDeflate(coded.data(), codedLength, &capacity);
    return {ok, ok ? std::string(qm::DecodeArea(), capacity) : std::string()};
}

TEST(Inflate, Codings) {
    const std::string text = qmtest::SampleText(100000);
    const std::string gzip = Compress(text, qmtest::Wrapper::Gzip);
    const std::string zlib = Compress(text, qmtest::Wrapper::Zlib);
    const std::string raw = Compress(text, qmtest::Wrapper::Raw);
    struct Case {
        const char* name;
        bool gzipDecoder;
        std::string coded;
        bool ok;
        std::string out;
    };
    const Case cases[] = {
        {"gzip", true, gzip, true, text},
        {"zlib labelled gzip", true, zlib, true, text},
        {"raw deflate", false, raw, true, text},
        {"zlib labelled deflate fails", false, zlib, false, ""},
        {"raw deflate labelled gzip fails", true, raw, false, ""},
        {"bytes after the gzip member are ignored", true, gzip + "trailing junk", true, text},
        {"empty body", true, "", true, ""},
        {"not compressed at all", true, "<html>plain</html>", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Inflated r = InflateBody(c.gzipDecoder, c.coded);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.out, c.out);  // empty on failure
    }
    // A stream cut short gives what it holds.
    Inflated cut = InflateBody(true, gzip.substr(0, gzip.size() / 2));
    EXPECT_TRUE(cut.ok);
    EXPECT_GT(cut.out.size(), 0u);
    EXPECT_LT(cut.out.size(), text.size());
    EXPECT_EQ(cut.out, text.substr(0, cut.out.size()));
}

TEST(Inflate, StopsExactlyAtEitherLimit) {
    const std::string text = qmtest::SampleText(50000);
    const std::string gzip = Compress(text, qmtest::Wrapper::Gzip);
    // The output stops at the capacity, even though more would follow.
    Inflated capped = InflateBody(true, gzip, 1234);
    EXPECT_TRUE(capped.ok);
    EXPECT_EQ(capped.out, text.substr(0, 1234));
    // Input past codedLength is never read: a corrupt tail beyond it does not matter.
    std::string damaged = gzip;
    damaged[damaged.size() - 3] ^= 0x55;  // the length check at the end
    EXPECT_FALSE(InflateBody(true, damaged).ok);
    Inflated shortInput =
        InflateBody(true, damaged, FETCH_BUFFER_SIZE, static_cast<uint32_t>(damaged.size() - 8));
    EXPECT_TRUE(shortInput.ok);
    EXPECT_EQ(shortInput.out, text);

    // A stream that inflates past the decode area gives the area, full.
    const std::string big(FETCH_BUFFER_SIZE + 4096, 'a');
    Inflated r = InflateBody(true, Compress(big, qmtest::Wrapper::Gzip));
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
        {"hex sizes in both cases", "a\r\n0123456789\r\nB\r\nabcdefghijk\r\n0\r\n\r\n", false,
         true, "0123456789abcdefghijk"},
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
