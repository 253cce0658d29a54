// The response rules decide when an exchange is complete, where its body lies and why it
// failed. Each case is fed whole, cut in two at every offset, and one byte at a time: the
// outcome may not depend on how the data arrived.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "response.h"

namespace {

using qm::FetchStatus;
using S = qm::FetchStatus;
using qm::RedirectPolicy;

const std::string kAtClose;  // complete (or failed) only once the server closes

struct Case {
    const char* name;
    std::string response;
    // Decided once the data reaches the end of the first occurrence of this text.
    std::string decidedAfter;
    FetchStatus status;        // kOk: complete
    std::string body = "";     // the body's bytes in the area, once complete
    std::string codings = "";  // g(zip) and d(eflate), in the order they are undone
    RedirectPolicy policy = RedirectPolicy::kReturn;
};

std::string Head(const std::string& fields) { return "HTTP/1.1 200 OK\r\n" + fields + "\r\n"; }

const Case kCases[] = {
    {"content length", Head("Content-Length: 5\r\n") + "hello+", "hello", S::kOk, "hello"},
    {"content length in another case", Head("cOnTeNt-LeNgTh: 2\r\n") + "ok", "ok", S::kOk, "ok"},
    {"blanks around the length, a NUL in another field",
     Head(std::string("X-A: a\0b\r\n", 10) + "Content-Length:   2  \r\n") + "ok", "ok", S::kOk,
     "ok"},
    {"header lines ending in LF alone", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "ok", S::kOk,
     "ok"},
    {"no content length reads to the close", Head("Server: x\r\n") + "body", kAtClose, S::kOk,
     "body"},
    // Where the body ends cannot be known: each fails at the header (RFC 9112 section 6.3).
    {"content length not a number", Head("Content-Length: 4x\r\n") + "body!", "\r\n\r\n",
     S::kBadContentLength},
    {"negative content length", Head("Content-Length: -4\r\n") + "body!", "\r\n\r\n",
     S::kBadContentLength},
    {"empty content length", Head("Content-Length: \r\n") + "body!", "\r\n\r\n",
     S::kBadContentLength},
    {"content length of 20 digits", Head("Content-Length: 99999999999999999999\r\n") + "ab",
     "\r\n\r\n", S::kBadContentLength},
    {"differing content lengths", Head("Content-Length: 5\r\nContent-Length: 50\r\n") + "abcde",
     "\r\n\r\n", S::kBadContentLength},
    {"differing lengths in one list", Head("Content-Length: 5, 50\r\n") + "abcde", "\r\n\r\n",
     S::kBadContentLength},
    {"a transfer coding frames the body past a bad length",
     Head("Content-Length: x\r\nTransfer-Encoding: chunked\r\n") + "1\r\nz\r\n0\r\n\r\n",
     "0\r\n\r\n", S::kOk, "1\r\nz\r\n0\r\n\r\n"},
    {"a bad length on a 404 is the 404", "HTTP/1.1 404 No\r\nContent-Length: -1\r\n\r\n",
     "\r\n\r\n", S::kHttpStatus},
    {"repeated equal content lengths", Head("Content-Length: 2, 2\r\nContent-Length: 2\r\n") + "ab",
     "ab", S::kOk, "ab"},
    {"zero length ends at the header", Head("Content-Length: 000\r\n"), "\r\n\r\n", S::kOk, ""},
    {"204 ends at the header", "HTTP/1.1 204 No Content\r\n\r\n", "\r\n\r\n", S::kOk, ""},
    {"304 ends at the header", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n", "\r\n\r\n",
     S::kOk, ""},
    {"fields in the body are body",
     Head("Content-Length: 60\r\n") + "Content-Length: 3\r\nContent-Encoding: gzip\r\n\r\n",
     kAtClose, S::kTruncated},
    {"interim responses are passed over",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: x\r\n\r\n" +
         Head("Content-Length: 1\r\n") + "z",
     "\r\n\r\nz", S::kOk, "z"},
    {"body shorter than its length", Head("Content-Length: 10\r\n") + "short", kAtClose,
     S::kTruncated},
    {"closed in the header", "HTTP/1.1 200 OK\r\nServer: x", kAtClose, S::kNoResponse},
    {"no status line", "Content-Length: 1\r\n\r\nx", "\r\n\r\n", S::kMalformedResponse},
    {"status of two digits", "HTTP/1.1 20 OK\r\n\r\n", "\r\n\r\n", S::kMalformedResponse},
    {"status 999", "HTTP/1.1 999 Odd\r\n\r\n", "\r\n\r\n", S::kMalformedResponse},
    {"header that never ends", "HTTP/1.1 200 OK\r\n" + std::string(70000, 'h'),
     std::string(65536 - 17, 'h'), S::kMalformedResponse},
    {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx", "\r\n\r\n", S::kHttpStatus},
    {"500 with a coding", "HTTP/1.1 500 Oops\r\nContent-Encoding: gzip\r\n\r\n", "\r\n\r\n",
     S::kHttpStatus},
    {"101 is not interim for us", "HTTP/1.1 101 Switching\r\n\r\n", "\r\n\r\n", S::kHttpStatus},
    {"redirect returned as it came",
     "HTTP/1.0 301 Moved\r\nLocation: /b\r\nContent-Length: 1\r\n\r\nx", "\r\n\r\nx", S::kOk, "x"},
    {"redirect to follow ends at its header",
     "HTTP/1.1 302 Found\r\nlocation: /b\r\n\r\nnever read", "\r\n\r\n", S::kOk, "", "",
     RedirectPolicy::kFollow},
    {"redirect without a location fails when followed", "HTTP/1.1 301 Moved\r\n\r\n", "\r\n\r\n",
     S::kHttpStatus, "", "", RedirectPolicy::kFollow},
    {"300 is not followed", "HTTP/1.1 300 Choices\r\nLocation: /b\r\n\r\n", "\r\n\r\n",
     S::kHttpStatus, "", "", RedirectPolicy::kFollow},
    {"codings in any case, undone last first",
     Head("Content-Encoding: GZip, deflate\r\ncontent-encoding: x-gzip\r\nContent-Length: 1\r\n") +
         "Q",
     "\r\n\r\nQ", S::kOk, "Q", "gdg"},
    {"transfer codings before content codings",
     Head("Transfer-Encoding: gzip, chunked\r\nContent-Encoding: deflate\r\n") +
         "1\r\nz\r\n0\r\n\r\n",
     "0\r\n\r\n", S::kOk, "1\r\nz\r\n0\r\n\r\n", "gd"},
    {"identity is no coding", Head("Content-Encoding: identity\r\nContent-Length: 1\r\n") + "Q",
     "\r\n\r\nQ", S::kOk, "Q"},
    {"br fails at the header", Head("Content-Encoding: br\r\nContent-Length: 1\r\n") + "Q",
     "\r\n\r\n", S::kUnsupportedCoding},
    {"an unknown coding after a known one", Head("Content-Encoding: gzip, compress\r\n"),
     "\r\n\r\n", S::kUnsupportedCoding},
    {"five codings are too many", Head("Content-Encoding: gzip,gzip,gzip,gzip,gzip\r\n"),
     "\r\n\r\n", S::kUnsupportedCoding},
    {"transfer coding without chunked reads to the close",
     Head("Transfer-Encoding: gzip\r\n") + "zz", kAtClose, S::kOk, "zz", "g"},
    {"chunks with extensions and trailers win over a content length",
     Head("Content-Length: 3\r\nTransfer-Encoding: chunked\r\n") +
         "3;e\r\nabc\r\n0\r\nT: 1\r\n\r\n",
     "T: 1\r\n\r\n", S::kOk, "3;e\r\nabc\r\n0\r\nT: 1\r\n\r\n"},
    {"chunked not last", Head("Transfer-Encoding: chunked, gzip\r\n") + "x", "\r\n\r\n",
     S::kMalformedResponse},
    {"chunked twice", Head("Transfer-Encoding: chunked, chunked\r\n") + "0\r\n\r\n", "\r\n\r\n",
     S::kMalformedResponse},
    {"a bad chunk size", Head("Transfer-Encoding: chunked\r\n") + "zz\r\n", "\r\n\r\nz",
     S::kMalformedResponse},
    {"chunks cut short", Head("Transfer-Encoding: chunked\r\n") + "5\r\nhel", kAtClose,
     S::kTruncated},
    {"chunked only as a word in another field", Head("X-Note: chunked\r\n") + "0\r\n\r\n", kAtClose,
     S::kOk, "0\r\n\r\n"},
};

std::string Codings(const qm::ResponseRules& rules) {
    std::string s;
    for (size_t i = 0; i < rules.CodingCount(); ++i)
        s += rules.CodingAt(i) == qm::Coding::kGzip ? 'g' : 'd';
    return s;
}

// Feeds the response in pieces ending at `ends`, then whole, then closes. The decision must
// come at the end of the piece in which it happens, and not before. A close the server did not
// confirm (TLS without close_notify) ends no body: only one its own framing ended is whole.
void Check(const Case& c, std::vector<size_t> ends, bool confirmed = true) {
    using Progress = qm::ResponseRules::Progress;
    SCOPED_TRACE(confirmed ? "" : "a close not confirmed");
    ends.push_back(c.response.size());
    const size_t npos = std::string::npos;
    size_t at = c.decidedAfter.empty() ? npos : c.response.find(c.decidedAfter);
    size_t want = at == npos ? npos : at + c.decidedAfter.size();
    size_t expected = npos, seen = npos;
    qm::ResponseRules rules(c.response.data(), c.policy);
    Progress progress = Progress::kNeedMore;
    for (size_t end : ends) {
        if (expected == npos && want != npos && end >= want) expected = end;
        progress = rules.Update(end);
        if (progress != Progress::kNeedMore) {
            seen = end;
            break;
        }
    }
    EXPECT_EQ(seen, expected);
    if (progress == Progress::kNeedMore) progress = rules.Closed(c.response.size(), confirmed);
    const bool cut = !confirmed && c.decidedAfter.empty() && c.status == S::kOk;
    EXPECT_EQ(progress == Progress::kFailed ? rules.Failure().status : FetchStatus::kOk,
              cut ? S::kTruncated : c.status);
    if (progress == Progress::kComplete) {
        EXPECT_EQ(c.response.substr(rules.BodyStart(), rules.BodyLength()), c.body);
        EXPECT_EQ(Codings(rules), c.codings);
    }
}

TEST(ResponseRules, WholeCutInTwoAtEveryOffsetAndOneByteAtATime) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Check(c, {});
        Check(c, {}, false);
        if (c.response.size() > 1000) continue;
        std::vector<size_t> everyByte;
        for (size_t cut = 1; cut < c.response.size(); ++cut) {
            SCOPED_TRACE(cut);
            Check(c, {cut});
            everyByte.push_back(cut);
        }
        SCOPED_TRACE("one byte at a time");
        Check(c, everyByte);
    }
}

}  // namespace
