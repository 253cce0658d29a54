// Whole fetches against the scripted server: what the client sends, what the call returns and
// what it leaves in the caller's buffer and length, for each way a response can go.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fetch.h"
#include "qm_url.h"
#include "stop.h"
#include "test_server.h"
#include "tls_front.h"
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

    bool Untouched() const {
        return length == kLengthUntouched &&
               std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == kUntouched; });
    }
    bool StartsWith(const std::string& text) const {
        return std::equal(text.begin(), text.end(), buffer.begin());
    }
};

bool FetchInto(const std::string& url, Caller& caller, int silenceMs = 10000) {
    qm::CallScope clearStaleStop;
    UrlRequest request{};
    request.url = url.c_str();
    request.referer = "";
    return qm::FetchUrl(request, caller.buffer.data(), &caller.length, silenceMs);
}

std::string Gzip(const std::string& text) { return qmtest::Compress(text, qmtest::Wrapper::Gzip); }

std::string WithLength(const std::string& body, qmtest::Headers more = {}) {
    more.emplace_back("Content-Length", std::to_string(body.size()));
    return HttpResponse(200, more, body);
}

struct Case {
    const char* name;
    std::string response;
    Ending ending;
    bool ok;
    std::optional<std::string> buffer;  // what the buffer starts with; none: untouched
    int32_t length;
};

std::vector<Case> ResponseCases() {
    const std::string page = "<html><body>" + qmtest::SampleText(3000) + "</body></html>";
    const int32_t pageLength = static_cast<int32_t>(page.size());
    const std::string notFound = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found";
    const std::string headerOnly = "HTTP/1.1 200 OK\r\nServer: x";
    const std::string zlib = qmtest::Compress(page, qmtest::Wrapper::Zlib);
    std::string chunkedGzip, gzip = Gzip(page);
    for (size_t at = 0; at < gzip.size(); at += 700) {
        std::string piece = gzip.substr(at, 700);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        chunkedGzip += size + piece + "\r\n";
    }
    chunkedGzip += "0\r\n\r\n";
    const qmtest::Headers chunked = {{"Transfer-Encoding", "chunked"}};
    return {
        {"content length", WithLength(page), Ending::StayOpen, true, page, pageLength},
        {"no length, closed", HttpResponse(200, {}, page), Ending::Close, true, page, pageLength},
        {"gzip", WithLength(gzip, {{"Content-Encoding", "gzip"}}), Ending::StayOpen, true, page,
         pageLength},
        {"deflate", WithLength(qmtest::Compress(page, qmtest::Wrapper::Raw),
                               {{"Content-Encoding", "deflate"}}),
         Ending::StayOpen, true, page, pageLength},
        {"404 with gzip is decoded",
         HttpResponse(404, {{"Content-Encoding", "gzip"}}, Gzip("missing")), Ending::Close, true,
         "missing", 7},
        {"x-gzip is returned still coded",
         HttpResponse(200, {{"Content-Encoding", "x-gzip"}}, Gzip("abc")), Ending::Close, true,
         Gzip("abc"), static_cast<int32_t>(Gzip("abc").size())},
        {"closed before the length arrived", HttpResponse(200, {{"Content-Length", "99"}}, "part"),
         Ending::Close, true, "part", 4},
        {"zero length on a kept-alive connection",
         HttpResponse(200, {{"Content-Length", "0"}}, ""), Ending::StayOpen, true, "", 0},
        {"chunked on a kept-alive connection",
         HttpResponse(200, chunked, "5\r\nhello\r\n1;x\r\n!\r\n0\r\n\r\n"), Ending::StayOpen, true,
         "hello!", 6},
        {"chunked gzip",
         HttpResponse(200, {{"Transfer-Encoding", "chunked"}, {"Content-Encoding", "gzip"}},
                      chunkedGzip),
         Ending::StayOpen, true, page, pageLength},
        // Failures, and what they leave behind.
        {"404 without coding", notFound, Ending::Close, false, notFound, kLengthUntouched},
        {"reset during the header", headerOnly, Ending::Reset, false, std::nullopt,
         kLengthUntouched},
        {"reset during the body", HttpResponse(200, {{"Content-Length", "99"}}, "part"),
         Ending::Reset, false, std::nullopt, kLengthUntouched},
        {"closed during the header", headerOnly, Ending::Close, false, headerOnly,
         static_cast<int32_t>(headerOnly.size())},
        {"closed without a byte", "", Ending::Close, false, "", 0},
        {"zlib labelled deflate does not decode", WithLength(zlib, {{"Content-Encoding", "deflate"}}),
         Ending::Close, false, zlib, static_cast<int32_t>(zlib.size())},
        // The exchange ends at the first byte that cannot be a chunk size.
        {"malformed chunk size", HttpResponse(200, chunked, "5\r\nhello\r\nx"), Ending::StayOpen,
         false, "5\r\nhello\r\nx", 11},
        {"chunks cut short by a close", HttpResponse(200, chunked, "5\r\nhel"), Ending::Close,
         false, "5\r\nhel", 6},
    };
}

// Over TLS every response must read exactly as it does in plain text.
TEST(Fetch, EveryResponseWholeAndOneByteAtATimePlainAndOverTls) {
    qmtest::TlsFront* tls = qmtest::TlsFront::Get();
    ASSERT_NE(tls, nullptr);
    for (int round = 0; round < 4; ++round) {
        const bool secure = round >= 2;
        const size_t piece = round % 2;  // 0: the whole response at once
        for (const Case& c : ResponseCases()) {
#ifdef _WIN32
            // Wine passes a reset on as an orderly close now and then (its socket server may
            // take the pending error first), so the reset rows are checked natively only.
            if (c.ending == Ending::Reset) continue;
#endif
            SCOPED_TRACE(std::string(c.name) + (piece ? ", one byte at a time" : "") +
                         (secure ? ", https" : ""));
            Script script =
                piece ? Script().SendInPieces(c.response, piece) : Script().Send(c.response);
            qmtest::ScriptedServer server(script.Then(c.ending));
            std::string url = server.Url("/page");
            if (secure) {
                ASSERT_TRUE(tls->Route(server.Port()));
                url = tls->Url(qmtest::Certificate::kValid, "/page");
            }
            Caller caller;
            EXPECT_EQ(FetchInto(url, caller), c.ok);
            EXPECT_EQ(caller.length, c.length);
            if (c.buffer) EXPECT_TRUE(caller.StartsWith(*c.buffer));
            else EXPECT_TRUE(caller.Untouched());
        }
    }
}

TEST(Fetch, SendsTheRequestTextToThePortOfTheUrl) {
    qmtest::ScriptedServer server(Script().Send(WithLength("x")));
    UrlRequest request{};
    std::string url = server.Url("/dir/page.html?q=1");
    request.url = url.c_str();
    request.referer = "http://127.0.0.1/from";
    Caller caller;
    ASSERT_TRUE(qm::FetchUrl(request, caller.buffer.data(), &caller.length));
    EXPECT_TRUE(caller.StartsWith("x"));
    EXPECT_EQ(server.Received(0),
              "GET /dir/page.html?q=1 HTTP/1.1\r\nAccept: */*\r\nReferer: http://127.0.0.1/from\r\n"
              "Accept-Encoding: gzip, deflate\r\nUser-Agent: Mozilla/4.0\r\nHost: 127.0.0.1:" +
                  std::to_string(server.Port()) + "\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(request.refererLength, 21);
}

// A certificate that is not good for the address, or a server that speaks only TLS older
// than 1.2, fails the fetch with its reason before the request goes out.
TEST(Fetch, HttpsRefusesCertificatesNotGoodForTheHost) {
    qmtest::TlsFront* tls = qmtest::TlsFront::Get();
    ASSERT_NE(tls, nullptr);
    qmtest::ScriptedServer server(Script().Send(WithLength("secret")));
    ASSERT_TRUE(tls->Route(server.Port()));
    using qmtest::Certificate;
    const std::pair<std::string, qm::FetchStatus> cases[] = {
        {tls->Url(Certificate::kOtherHost), qm::FetchStatus::kCertificateWrongHost},
        {tls->Url(Certificate::kExpired), qm::FetchStatus::kCertificateExpired},
        {tls->Url(Certificate::kSelfSigned), qm::FetchStatus::kCertificateUntrusted},
        {tls->Url(Certificate::kOldProtocol), qm::FetchStatus::kTlsHandshakeFailed},
    };
    for (const auto& [url, reason] : cases) {
        SCOPED_TRACE(url);
        Caller caller;
        EXPECT_FALSE(FetchInto(url, caller));
        EXPECT_TRUE(caller.Untouched());

        UrlRequest request{};
        request.url = url.c_str();
        char text[qm::kRequestTextSize] = {}, host[qm::kHostNameSize] = {};
        int port = 80;
        bool secure = false;
        ASSERT_TRUE(qm::BuildHttpRequest(&port, &request, text, host, &secure));
        int32_t received = 0;
        qm::ExchangeDetails details;
        EXPECT_EQ(qm::ExchangeHttpRequest(host, port, secure, text,
                                          static_cast<int>(std::strlen(text)),
                                          caller.buffer.data(), &received, &details, 10000),
                  qm::FETCH_FAILED);
        EXPECT_EQ(details.opened, reason);
    }
    EXPECT_TRUE(server.Log().empty());
    Caller caller;
    EXPECT_TRUE(FetchInto(tls->Url(Certificate::kValid, "/"), caller));
    EXPECT_TRUE(caller.StartsWith("secret"));
}

TEST(Fetch, UnusableUrlsUnreachableAndSilentServersLeaveTheCallerAlone) {
    qmtest::ScriptedServer silent({
        Script().Then(Ending::StayOpen),
        Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc").Then(Ending::StayOpen),
    });
    qmtest::TlsFront* tls = qmtest::TlsFront::Get();
    ASSERT_TRUE(tls != nullptr && tls->Route(silent.Port()));
    uint16_t closedPort = qmtest::ScriptedServer(Script{}).Port();  // nobody listens there now
    const std::string urls[] = {
        "http://127.0.0.1:" + std::to_string(closedPort) + "/",
        "http://no-such-host.invalid/",
        "http://" + std::string(256, 'h') + "/",
        "http://127.0.0.1:0/",
        "HTTPS://127.0.0.1:" + std::to_string(closedPort) + "/",
        silent.Url("/nothing-at-all"),
        silent.Url("/part-of-the-body"),
        // Silent during the handshake, and after it.
        "https://127.0.0.1:" + std::to_string(silent.Port()) + "/",
        tls->Url(qmtest::Certificate::kValid, "/part-of-the-body"),
    };
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        Caller caller;
        EXPECT_FALSE(FetchInto(url, caller, 300));
        EXPECT_TRUE(caller.Untouched());
    }
}

TEST(Fetch, AStopEndsAWaitingFetchAndTheNextCallRunsNormally) {
    qmtest::TlsFront* tls = qmtest::TlsFront::Get();
    ASSERT_NE(tls, nullptr);
    for (bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        qmtest::ScriptedServer server({
            Script().Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc").Then(Ending::StayOpen),
            Script().Send(WithLength("fine")),
        });
        ASSERT_TRUE(tls->Route(server.Port()));
        std::thread stopper([&] {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (server.Log().empty() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            qm_StopSave();
        });
        Caller caller;
        UrlRequest request{};
        std::string url = secure ? tls->Url(qmtest::Certificate::kValid) : server.Url();
        request.url = url.c_str();
        EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), &caller.length, 0), 0);
        stopper.join();
        EXPECT_TRUE(caller.Untouched());
        EXPECT_TRUE(qm::StopRequested());

        // The export clears a request left over from an earlier call.
        EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), &caller.length, 0), 1);
        EXPECT_TRUE(caller.StartsWith("fine"));
    }
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

TEST(Fetch, ExportRefusesWhatItCannotReadAndNeverReadsPastIt) {
    qmtest::ScriptedServer server(Script().Send(WithLength("x")));
    std::string url = server.Url();
    TextBeforeAHole unterminatedUrl(url), unterminatedReferer("http://from/");
    UrlRequest request{}, noUrl{}, holeUrl{};
    request.url = url.c_str();
    holeUrl.url = unterminatedUrl.get();
    Caller caller;
    EXPECT_EQ(qm_UrlToHtml(nullptr, caller.buffer.data(), &caller.length, 0), 0);
    EXPECT_EQ(qm_UrlToHtml(&request, nullptr, &caller.length, 0), 0);
    EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), nullptr, 0), 0);
    EXPECT_EQ(qm_UrlToHtml(&noUrl, caller.buffer.data(), &caller.length, 0), 0);
    EXPECT_EQ(qm_UrlToHtml(&holeUrl, caller.buffer.data(), &caller.length, 0), 0);
    EXPECT_TRUE(caller.Untouched());
    EXPECT_EQ(server.ConnectionCount(), 0u);

    // A referer that cannot be measured is left out, as a missing one is.
    request.referer = unterminatedReferer.get();
    EXPECT_EQ(qm_UrlToHtml(&request, caller.buffer.data(), &caller.length, 0), 1);
    EXPECT_FALSE(server.Log().at(0).HasHeader("Referer"));
    EXPECT_EQ(request.refererLength, 0);
}

TEST(Fetch, AResponseLargerThanTheAreaIsCutAtIt) {
    const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
    qmtest::ScriptedServer server(Script().Send(head + std::string(FETCH_BUFFER_SIZE + 100000, 'b')));
    Caller caller;
    EXPECT_TRUE(FetchInto(server.Url(), caller));
    EXPECT_EQ(caller.length, FETCH_BUFFER_SIZE - static_cast<int32_t>(head.size()));
}

#ifdef _WIN32
// The system's cookie store is consulted with the whole URL; a cookie that would not fit
// in the request is left out rather than failing the fetch.
TEST(Fetch, CookiesFromTheSystemStore) {
    qmtest::ScriptedServer server(Script().Send(WithLength("x")));
    std::string url = server.Url("/");
    ASSERT_TRUE(InternetSetCookieA(url.c_str(), nullptr, "session=abc123"));
    Caller caller;
    ASSERT_TRUE(FetchInto(url, caller));
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
