// Whole fetches against the scripted server: what the client sends, what the call returns and
// what it leaves in the caller's buffer and length, for each way a response can go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fetch.h"
#include "qm_url.h"
#include "stop.h"
#include "test_server.h"
#include "zlib_util.h"

#ifdef _WIN32
#  include <windows.h>
#  include <wininet.h>
#else
#  include <sys/mman.h>
#endif

namespace {

using qmtest::Ending;
using qmtest::HttpResponse;
using qmtest::Script;

constexpr char kUntouched = '#';
constexpr int32_t kLengthUntouched = -12345;

// The caller's side of one fetch: a full-size buffer filled with a marker, and a length
// that no fetch would store.
struct Caller {
    std::vector<char> buffer = std::vector<char>(FETCH_BUFFER_SIZE, kUntouched);
    int32_t length = kLengthUntouched;

    std::string Output() const {
        return length >= 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : "";
    }
    bool BufferUntouched() const {
        return std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == kUntouched; });
    }
    bool BufferStartsWith(const std::string& text) const {
        return std::equal(text.begin(), text.end(), buffer.begin());
    }
};

class Fetch : public ::testing::Test {
protected:
    void SetUp() override { qm::CallScope clearStaleStop; }

    bool Run(const std::string& url, Caller& caller, int silenceMs = 10000) {
        UrlRequest request{};
        request.url = url.c_str();
        request.referer = "";
        return qm::FetchUrl(request, caller.buffer.data(), &caller.length, silenceMs);
    }
};

std::string Gzip(const std::string& text) { return qmtest::Compress(text, qmtest::Wrapper::Gzip); }
std::string Zlib(const std::string& text) { return qmtest::Compress(text, qmtest::Wrapper::Zlib); }
std::string Raw(const std::string& text) { return qmtest::Compress(text, qmtest::Wrapper::Raw); }

std::string WithLength(const std::string& body, qmtest::Headers more = {}) {
    more.emplace_back("Content-Length", std::to_string(body.size()));
    return HttpResponse(200, more, body);
}

// What the caller must find afterwards.
enum class Buffer { Untouched, Body, Raw };

struct Case {
    const char* name;
    std::string response;
    Ending ending;
    bool ok;
    Buffer buffer;
    std::string expected;  // the body, or the raw bytes, the buffer must start with
    int32_t length;        // kLengthUntouched when it must not be stored
};

std::vector<Case> ResponseCases() {
    const std::string page = "<html><body>" + qmtest::SampleText(3000) + "</body></html>";
    const std::string header404 = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n";
    const std::string headerOnly = "HTTP/1.1 200 OK\r\nServer: x";
    const std::string zlibBody = Zlib(page);
    const std::string chunkedGzip = [&] {
        std::string z = Gzip(page), out;
        for (size_t at = 0; at < z.size(); at += 700) {
            std::string piece = z.substr(at, 700);
            char size[16];
            std::snprintf(size, sizeof size, "%zx", piece.size());
            out += std::string(size) + "\r\n" + piece + "\r\n";
        }
        return out + "0\r\n\r\n";
    }();
    // The exchange ends at the first byte that cannot be a chunk size.
    const std::string malformedChunks = "5\r\nhello\r\nx";
    auto n = [](const std::string& s) { return static_cast<int32_t>(s.size()); };
    return {
        {"content length", WithLength(page), Ending::StayOpen, true, Buffer::Body, page, n(page)},
        {"no length, closed", HttpResponse(200, {}, page), Ending::Close, true, Buffer::Body,
         page, n(page)},
        {"gzip", WithLength(Gzip(page), {{"Content-Encoding", "gzip"}}), Ending::StayOpen, true,
         Buffer::Body, page, n(page)},
        {"zlib labelled gzip", WithLength(zlibBody, {{"Content-Encoding", "gzip"}}),
         Ending::StayOpen, true, Buffer::Body, page, n(page)},
        {"deflate", WithLength(Raw(page), {{"Content-Encoding", "deflate"}}), Ending::StayOpen,
         true, Buffer::Body, page, n(page)},
        {"404 with gzip is decoded",
         HttpResponse(404, {{"Content-Encoding", "gzip"}}, Gzip("missing")), Ending::Close, true,
         Buffer::Body, "missing", 7},
        {"empty gzip body", HttpResponse(200, {{"Content-Encoding", "gzip"}}, ""), Ending::Close,
         true, Buffer::Body, "", 0},
        {"x-gzip is returned still coded", HttpResponse(200, {{"Content-Encoding", "x-gzip"}},
         Gzip("abc")), Ending::Close, true, Buffer::Body, Gzip("abc"), n(Gzip("abc"))},
        {"closed before the length arrived", HttpResponse(200, {{"Content-Length", "99"}}, "part"),
         Ending::Close, true, Buffer::Body, "part", 4},
        {"zero length on a kept-alive connection",
         HttpResponse(200, {{"Content-Length", "0"}}, ""), Ending::StayOpen, true, Buffer::Body,
         "", 0},
        {"chunked on a kept-alive connection",
         HttpResponse(200, {{"Transfer-Encoding", "chunked"}}, "5\r\nhello\r\n1;x\r\n!\r\n0\r\n\r\n"),
         Ending::StayOpen, true, Buffer::Body, "hello!", 6},
        {"chunked gzip",
         HttpResponse(200, {{"Transfer-Encoding", "chunked"}, {"Content-Encoding", "gzip"}},
                      chunkedGzip),
         Ending::StayOpen, true, Buffer::Body, page, n(page)},
        // Failures, and what they leave behind.
        {"404 without coding", header404 + "not found", Ending::Close, false, Buffer::Raw,
         header404 + "not found", kLengthUntouched},
        {"reset during the header", headerOnly, Ending::Reset, false, Buffer::Untouched, "",
         kLengthUntouched},
        {"reset during the body", HttpResponse(200, {{"Content-Length", "99"}}, "part"),
         Ending::Reset, false, Buffer::Untouched, "", kLengthUntouched},
        {"closed during the header", headerOnly, Ending::Close, false, Buffer::Raw, headerOnly,
         n(headerOnly)},
        {"closed without a byte", "", Ending::Close, false, Buffer::Untouched, "", 0},
        {"zlib labelled deflate does not decode",
         WithLength(zlibBody, {{"Content-Encoding", "deflate"}}), Ending::Close, false,
         Buffer::Body, zlibBody, n(zlibBody)},
        {"malformed chunk size",
         HttpResponse(200, {{"Transfer-Encoding", "chunked"}}, malformedChunks), Ending::StayOpen,
         false, Buffer::Body, malformedChunks, n(malformedChunks)},
        {"chunks cut short by a close",
         HttpResponse(200, {{"Transfer-Encoding", "chunked"}}, "5\r\nhel"), Ending::Close, false,
         Buffer::Body, "5\r\nhel", 6},
    };
}

// Wine passes a connection reset on as an orderly close now and then (its socket server may
// take the pending error first), so the reset rows are checked natively only.
bool Runs(const Case& c) {
#ifdef _WIN32
    return c.ending != Ending::Reset;
#else
    (void)c;
    return true;
#endif
}

void Check(const Case& c, bool ok, const Caller& caller) {
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(caller.length, c.length);
    switch (c.buffer) {
        case Buffer::Untouched: EXPECT_TRUE(caller.BufferUntouched()); break;
        case Buffer::Body:
        case Buffer::Raw: EXPECT_TRUE(caller.BufferStartsWith(c.expected)); break;
    }
}

TEST_F(Fetch, ResponsesInOnePiece) {
    for (const Case& c : ResponseCases()) {
        if (!Runs(c)) continue;
        SCOPED_TRACE(c.name);
        qmtest::ScriptedServer server(Script().Send(c.response).Then(c.ending));
        Caller caller;
        bool ok = Run(server.Url("/page"), caller);
        Check(c, ok, caller);
    }
}

TEST_F(Fetch, ResponsesOneByteAtATime) {
    for (const Case& c : ResponseCases()) {
        if (!Runs(c)) continue;
        SCOPED_TRACE(c.name);
        qmtest::ScriptedServer server(Script().SendInPieces(c.response, 1).Then(c.ending));
        Caller caller;
        bool ok = Run(server.Url("/page"), caller);
        Check(c, ok, caller);
    }
}

TEST_F(Fetch, SendsTheRequestTextAndUsesThePortOfTheUrl) {
    qmtest::ScriptedServer server(Script().Send(WithLength("x")));
    UrlRequest request{};
    std::string url = server.Url("/dir/page.html?q=1");
    request.url = url.c_str();
    request.referer = "http://127.0.0.1/from";
    Caller caller;
    ASSERT_TRUE(qm::FetchUrl(request, caller.buffer.data(), &caller.length));
    EXPECT_EQ(caller.Output(), "x");
    EXPECT_EQ(server.Received(0),
              "GET /dir/page.html?q=1 HTTP/1.1\r\n"
              "Accept: */*\r\n"
              "Referer: http://127.0.0.1/from\r\n"
              "Accept-Encoding: gzip, deflate\r\n"
              "User-Agent: Mozilla/4.0\r\n"
              "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
              "Connection: Keep-Alive\r\n"
              "\r\n");
    EXPECT_EQ(request.refererLength, 21);
}

TEST_F(Fetch, UnusableUrlsAndUnreachableServersLeaveTheCallerAlone) {
    // A port nobody listens on: take one, then give it back.
    uint16_t closedPort;
    {
        qmtest::ScriptedServer gone(Script{});
        closedPort = gone.Port();
    }
    const std::string cases[] = {
        "http://127.0.0.1:" + std::to_string(closedPort) + "/",
        "http://no-such-host.invalid/",
        "http://" + std::string(256, 'h') + "/",
        "http://127.0.0.1:0/",
        "HTTP://127.0.0.1/",
    };
    for (const std::string& url : cases) {
        SCOPED_TRACE(url);
        Caller caller;
        EXPECT_FALSE(Run(url, caller));
        EXPECT_EQ(caller.length, kLengthUntouched);
        EXPECT_TRUE(caller.BufferUntouched());
    }
}

TEST_F(Fetch, ASilentServerFails) {
    qmtest::ScriptedServer server({
        Script().Then(Ending::StayOpen),
        Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc").Then(Ending::StayOpen),
    });
    for (int i = 0; i < 2; ++i) {
        Caller caller;
        EXPECT_FALSE(Run(server.Url(), caller, 300));
        EXPECT_EQ(caller.length, kLengthUntouched);
        EXPECT_TRUE(caller.BufferUntouched());
    }
}

TEST_F(Fetch, AStopEndsAWaitingFetchAndTheNextCallRunsNormally) {
    qmtest::ScriptedServer server({
        Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc").Then(Ending::StayOpen),
        Script().Send(WithLength("fine")),
    });
    std::thread stopper([&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (server.Log().empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        qm_StopSave();
    });
    Caller caller;
    UrlRequest request{};
    std::string url = server.Url();
    request.url = url.c_str();
    EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), &caller.length, 0), 0);
    stopper.join();
    EXPECT_EQ(caller.length, kLengthUntouched);
    EXPECT_TRUE(caller.BufferUntouched());
    EXPECT_TRUE(qm::StopRequested());

    // The export clears a request left over from an earlier call.
    EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), &caller.length, 0), 1);
    EXPECT_EQ(caller.Output(), "fine");
}

TEST_F(Fetch, ExportRefusesUnusableArguments) {
    qmtest::ScriptedServer server(Script().Send(WithLength("x")));
    std::string url = server.Url();
    UrlRequest request{};
    request.url = url.c_str();
    Caller caller;
    EXPECT_EQ(qm_UrlToHtml(nullptr, caller.buffer.data(), &caller.length, 0), 0);
    EXPECT_EQ(qm_UrlToHtml(&request, nullptr, &caller.length, 0), 0);
    EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), nullptr, 0), 0);
    UrlRequest noUrl{};
    EXPECT_EQ(qm_UrlToHtml(&noUrl, caller.buffer.data(), &caller.length, 0), 0);
    EXPECT_EQ(caller.length, kLengthUntouched);
    EXPECT_TRUE(caller.BufferUntouched());
    EXPECT_EQ(server.ConnectionCount(), 0u);
}

// A text without its NUL whose last byte is the last readable one: the next page cannot be
// read.
class TextBeforeAHole {
public:
    explicit TextBeforeAHole(const std::string& text) {
#ifdef _WIN32
        pages_ = static_cast<char*>(
            VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        VirtualProtect(pages_ + kPage, kPage, PAGE_NOACCESS, &old);
#else
        pages_ = static_cast<char*>(
            mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(pages_ + kPage, kPage, PROT_NONE);
#endif
        text_ = pages_ + kPage - text.size();
        std::memcpy(text_, text.data(), text.size());
    }
    ~TextBeforeAHole() {
#ifdef _WIN32
        VirtualFree(pages_, 0, MEM_RELEASE);
#else
        munmap(pages_, 2 * kPage);
#endif
    }
    const char* get() const { return text_; }

private:
    static constexpr size_t kPage = 4096;
    char* pages_;
    char* text_;
};

TEST_F(Fetch, ExportNeverReadsPastTheEndOfReadableTexts) {
    qmtest::ScriptedServer server(Script().Send(WithLength("x")));
    std::string url = server.Url("/page");
    TextBeforeAHole unterminatedUrl(url), unterminatedReferer("http://from/");
    Caller caller;
    UrlRequest request{};
    request.url = unterminatedUrl.get();
    EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), &caller.length, 0), 0);
    EXPECT_EQ(server.ConnectionCount(), 0u);

    // A referer that cannot be measured is left out, as a missing one is.
    request.url = url.c_str();
    request.referer = unterminatedReferer.get();
    EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), &caller.length, 0), 1);
    EXPECT_FALSE(server.Log().at(0).HasHeader("Referer"));
    EXPECT_EQ(request.refererLength, 0);
}

TEST_F(Fetch, ResponsesLargerThanTheAreaAreCutAtIt) {
    const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
    const std::string big(FETCH_BUFFER_SIZE + 100000, 'b');
    qmtest::ScriptedServer plain(Script().Send(head + big));
    Caller caller;
    EXPECT_TRUE(Run(plain.Url(), caller));
    EXPECT_EQ(caller.length, FETCH_BUFFER_SIZE - static_cast<int32_t>(head.size()));

    // A body that inflates past the area gives exactly the area.
    qmtest::ScriptedServer bomb(Script().Send(
        HttpResponse(200, {{"Content-Encoding", "gzip"}}, Gzip(big))));
    Caller inflated;
    EXPECT_TRUE(Run(bomb.Url(), inflated));
    EXPECT_EQ(inflated.length, FETCH_BUFFER_SIZE);
    EXPECT_EQ(inflated.buffer[FETCH_BUFFER_SIZE - 1], 'b');
}

#ifdef _WIN32
// The system's cookie store is consulted with the whole URL; a cookie that would not fit
// in the request is left out rather than failing the fetch.
TEST_F(Fetch, CookiesFromTheSystemStore) {
    qmtest::ScriptedServer server(Script().Send(WithLength("x")));
    std::string url = server.Url("/");
    ASSERT_TRUE(InternetSetCookieA(url.c_str(), nullptr, "session=abc123"));
    Caller caller;
    ASSERT_TRUE(Run(url, caller));
    EXPECT_EQ(server.Log().at(0).Header("Cookie"), "session=abc123");

    std::string big(900, 'c');
    ASSERT_TRUE(InternetSetCookieA(url.c_str(), "big", big.c_str()));
    UrlRequest request{};
    std::string longUrl = server.Url("/" + std::string(200, 'p'));
    request.url = longUrl.c_str();
    std::string referer(250, 'r');
    request.referer = referer.c_str();
    Caller second;
    ASSERT_TRUE(qm::FetchUrl(request, second.buffer.data(), &second.length));
    EXPECT_FALSE(server.Log().at(1).HasHeader("Cookie"));
}
#endif

}  // namespace
