// The response rules decide when an exchange is complete and how its body is coded. Each case
// is fed whole, cut in two at every offset, and one byte at a time: the outcome may not
// depend on how the data arrived.
#include <gtest/gtest.h>

#include <string>

#include "response.h"

namespace {

const std::string kNever;  // the exchange completes only when the server closes

struct Case {
    const char* name;
    std::string response;
    // Complete once the data reaches the end of the first occurrence of this text.
    std::string completeAfter;
    qm::FetchCoding coding;
    int32_t status;
    bool chunked = false;
};

std::string Head(const std::string& fields) { return "HTTP/1.1 200 OK\r\n" + fields + "\r\n"; }

const Case kCases[] = {
    {"content length", Head("Content-Length: 5\r\n") + "hello", "hello", qm::FETCH_PLAIN, 200},
    {"content length after other fields",
     Head("Server: x\r\nContent-Type: text/html\r\nContent-Length: 2\r\n") + "ok", "ok",
     qm::FETCH_PLAIN, 200},
    {"no content length", Head("Server: x\r\n") + "body", kNever, qm::FETCH_PLAIN, 200},
    {"content length in another case", Head("content-length: 4\r\n") + "body", kNever,
     qm::FETCH_PLAIN, 200},
    {"zero content length in the header", Head("Content-Length: 0\r\n"), "\r\n\r\n",
     qm::FETCH_PLAIN, 200},
    {"zero written as 000", Head("Content-Length: 000\r\n"), "\r\n\r\n", qm::FETCH_PLAIN, 200},
    {"length that converts to zero is no length", Head("Content-Length: abc\r\n"), kNever,
     qm::FETCH_PLAIN, 200},
    {"content length taken from the body", Head("") + "Content-Length: 3\r\nmore", "3\r\n",
     qm::FETCH_PLAIN, 200},
    {"zero content length in the body only", Head("") + "Content-Length: 0\r\n", kNever,
     qm::FETCH_PLAIN, 200},
    {"body shorter than its length", Head("Content-Length: 10\r\n") + "short", kNever,
     qm::FETCH_PLAIN, 200},
    {"negative length", Head("Content-Length: -4\r\n") + "x", "\r\n\r\n", qm::FETCH_PLAIN, 200},
    {"gzip", Head("Content-Encoding: gzip\r\nContent-Length: 1\r\n") + "Q", "\r\n\r\nQ",
     qm::FETCH_GZIP, 200},
    {"deflate", Head("Content-Encoding: deflate\r\nContent-Length: 1\r\n") + "Q", "\r\n\r\nQ",
     qm::FETCH_DEFLATE, 200},
    {"x-gzip is no coding", Head("Content-Encoding: x-gzip\r\nContent-Length: 1\r\n") + "Q", "\r\n\r\nQ",
     qm::FETCH_PLAIN, 200},
    {"coding without the blank", Head("Content-Encoding:gzip\r\nContent-Length: 1\r\n") + "Q",
     "\r\n\r\nQ", qm::FETCH_PLAIN, 200},
    {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx", "\r\n\r\nx", qm::FETCH_FAILED,
     404},
    {"404 with a coding",
     "HTTP/1.1 404 Not Found\r\nContent-Encoding: gzip\r\nContent-Length: 1\r\n\r\nx",
     "\r\n\r\nx", qm::FETCH_GZIP, 404},
    {"redirect", "HTTP/1.0 301 Moved\r\nLocation: /b\r\nContent-Length: 1\r\n\r\nx", "\r\n\r\nx",
     qm::FETCH_PLAIN, 301},
    {"server error", "HTTP/1.1 500 Oops\r\nContent-Length: 1\r\n\r\nx", "\r\n\r\nx",
     qm::FETCH_PLAIN, 500},
    {"no status line", "Content-Length: 1\r\n\r\nx", "\r\n\r\nx", qm::FETCH_PLAIN, 0},
    {"chunked", Head("Transfer-Encoding: chunked\r\n") + "5\r\nhello\r\n0\r\n\r\n", "0\r\n\r\n",
     qm::FETCH_PLAIN, 200, true},
    {"chunked in any case, after another coding",
     Head("TRANSFER-ENCODING:  gzip, Chunked \r\nContent-Encoding: gzip\r\n") +
         "1\r\nz\r\n0\r\nX-Trailer: 1\r\n\r\n",
     "1\r\n\r\n", qm::FETCH_GZIP, 200, true},
    {"chunks win over a content length",
     Head("Content-Length: 3\r\nTransfer-Encoding: chunked\r\n") + "3\r\nabc\r\n0\r\n\r\n",
     "0\r\n\r\n", qm::FETCH_PLAIN, 200, true},
    {"a bad chunk size ends the exchange", Head("Transfer-Encoding: chunked\r\n") + "zz\r\n",
     "\r\n\r\nz", qm::FETCH_PLAIN, 200, true},
    {"chunked only as a word in another field", Head("X-Note: chunked\r\n") + "0\r\n\r\n",
     kNever, qm::FETCH_PLAIN, 200},
};

// Feeds the response in pieces ending at `ends`, then whole. Completion must be noticed at
// the end of the piece in which it happens, and not before.
void Check(const Case& c, std::vector<size_t> ends) {
    ends.push_back(c.response.size());
    const size_t npos = std::string::npos;
    size_t at = c.completeAfter.empty() ? npos : c.response.find(c.completeAfter);
    size_t want = at == npos ? npos : at + c.completeAfter.size();
    size_t expected = npos, seen = npos;
    qm::ResponseRules rules(c.response.data());
    for (size_t end : ends) {
        if (expected == npos && want != npos && end >= want) expected = end;
        if (rules.Update(end)) {
            seen = end;
            break;
        }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(rules.Coding(), c.coding);
    EXPECT_EQ(rules.Status(), c.status);
    EXPECT_EQ(rules.Chunked(), c.chunked);
}

TEST(ResponseRules, WholeCutInTwoAtEveryOffsetAndOneByteAtATime) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Check(c, {});
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

TEST(ResponseRules, OnlyTheFirstOccurrenceCounts) {
    std::string r = Head("Content-Length: 1\r\nContent-Length: 9\r\n"
                         "Content-Encoding: br\r\nContent-Encoding: gzip\r\n") + "x";
    qm::ResponseRules rules(r.data());
    EXPECT_TRUE(rules.Update(r.size()));
    EXPECT_EQ(rules.ContentLength(), 1);
    EXPECT_EQ(rules.Coding(), qm::FETCH_PLAIN);
}

TEST(ResponseRules, NumbersConvertLikeAtoi) {
    struct Case {
        std::string text;
        int32_t value;
    };
    const Case cases[] = {
        {"42", 42},          {"  \t42abc", 42},       {"+7", 7},
        {"-7", -7},          {"x1", 0},               {"", 0},
        {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
        {std::string(300, ' ') + "5", 0},  // beyond the 255 characters looked at
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(qm::ConvertNumber(c.text.data(), c.text.size()), c.value);
    }
}

}  // namespace
