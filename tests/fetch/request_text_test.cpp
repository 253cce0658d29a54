// The request text, byte for byte: servers and proxies see exactly this.
#include <gtest/gtest.h>

#include <string>

#include "fetch.h"

namespace {

struct Built {
    bool ok = false;
    int port = 80;
    std::string text, host;
    int32_t refererLength = 0;
    bool secure = false;
};

Built Build(const std::string& url, const char* referer = nullptr, int32_t refererLength = 0,
            int32_t useHttp10 = 0, int32_t omitAccept = 0, int32_t urlLength = 0) {
    UrlRequest request{};
    request.url = url.c_str();
    request.urlLength = urlLength;
    request.useHttp10 = useHttp10;
    request.omitAccept = omitAccept;
    request.referer = referer;
    request.refererLength = refererLength;
    char text[qm::kRequestTextSize] = {}, host[qm::kHostNameSize] = {};
    Built b;
    b.ok = qm::BuildHttpRequest(&b.port, &request, text, host, &b.secure);
    b.text = text;
    b.host = host;
    b.refererLength = request.refererLength;
    return b;
}

std::string Expected(const std::string& requestLine, const std::string& hostLine,
                     const std::string& refererLine = "", bool accept = true) {
    return requestLine + "\r\n" + (accept ? "Accept: */*\r\n" : "") + refererLine +
           "Accept-Encoding: gzip, deflate\r\nUser-Agent: Mozilla/4.0\r\nHost: " + hostLine +
           "\r\nConnection: Keep-Alive\r\n\r\n";
}

TEST(RequestText, LinesAndOptions) {
    struct Case {
        const char* name;
        Built built;
        std::string text;
    };
    const std::string r255(255, 'r'), r256(256, 'r');
    const Case cases[] = {
        {"host without path", Build("http://example.org"),
         Expected("GET / HTTP/1.1", "example.org")},
        {"path with query and fragment kept verbatim", Build("example.org/a/b?x=1#top"),
         Expected("GET /a/b?x=1#top HTTP/1.1", "example.org")},
        {"http 1.0", Build("http://h/p", nullptr, 0, 1), Expected("GET /p HTTP/1.0", "h")},
        {"accept left out", Build("http://h/p", nullptr, 0, 0, 7),
         Expected("GET /p HTTP/1.1", "h", "", false)},
        {"empty referer gives an empty line", Build("http://h/", ""),
         Expected("GET / HTTP/1.1", "h", "Referer: \r\n")},
        {"referer cut to its length", Build("http://h/", "http://ref/xyz", 10),
         Expected("GET / HTTP/1.1", "h", "Referer: http://ref\r\n")},
        {"referer of 255", Build("http://h/", r255.c_str()),
         Expected("GET / HTTP/1.1", "h", "Referer: " + r255 + "\r\n")},
        {"referer of 256 left out", Build("http://h/", r256.c_str()),
         Expected("GET / HTTP/1.1", "h")},
        {"referer with a line break left out", Build("http://h/", "a\r\nX-Evil: 1"),
         Expected("GET / HTTP/1.1", "h")},
        {"scheme in any case", Build("HtTp://h/x"), Expected("GET /x HTTP/1.1", "h")},
        {"https: the same text", Build("HTTPS://h/x"), Expected("GET /x HTTP/1.1", "h")},
        {"port kept on the Host line", Build("http://h:8080/x"),
         Expected("GET /x HTTP/1.1", "h:8080")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.built.ok);
        EXPECT_EQ(c.built.text, c.text);
    }
    // The referer's length is measured when not given, and stored back.
    EXPECT_EQ(Build("http://h/", r256.c_str()).refererLength, 256);
    EXPECT_EQ(Build("http://h/", "abc", 2).refererLength, 2);
}

TEST(RequestText, HostPortAndLengthLimits) {
    const std::string h255(255, 'h'), p255 = "/" + std::string(254, 'p');
    const struct {
        std::string url;
        bool ok;
        std::string host = "";
        int port = 80;
        int32_t urlLength = 0;
    } cases[] = {
        {"http://h:8080/", true, "h", 8080},
        {"http://h:1", true, "h", 1},
        {"http://h:65535/", true, "h", 65535},
        {"http://h:080/", true, "h", 80},
        {"http://h:/", true, "h:", 80},
        {"http://h:0/", false},
        {"http://h:65536/", false},
        {"http://h:99999999999999999999/", false},
        {"http://h:x/", true, "h:x", 80},  // not a port: the whole part is the name
        {"https://h/", true, "h", 443},
        {"hTTPs://h:8443/", true, "h", 8443},
        {"https:/h/", true, "https:", 80},  // not a scheme: the text before the slash is the name
        {"http:///x", false},               // no name at all
        {"http://h\r\nX: y/", false},
        {"http://h/a\nb", false},
        {"http://" + h255 + "/", true, h255, 80},
        {"http://" + h255 + "h/", false},
        {"http://" + h255 + "h", false},
        {"http://h" + p255, true, "h", 80},
        {"http://h" + p255 + "p", false},
        {"http://h" + p255.substr(0, 250) + "?abcdef", false},        // a path of 256 by its query
        {"http://" + h255 + p255, true, h255, 80},                    // the longest usable URL, 517
        {"http://h/" + std::string(1015, 'p'), false, "", 80, 1024},  // passes the first check
        {"http://h/x" + std::string(1100, 'p'), false, "", 80, 1025},
        {"http://h/abc" + std::string(600, 'p'), true, "h", 80, 12},  // cut by its length
        {"http://h/", false, "", 80, -1},
        {std::string(2000, 'h'), false},  // no NUL within 1024
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 40) + " " + std::to_string(c.url.size()));
        Built b = Build(c.url, nullptr, 0, 0, 0, c.urlLength);
        EXPECT_EQ(b.ok, c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(b.host, c.host);
        EXPECT_EQ(b.port, c.port);
        EXPECT_EQ(b.secure, c.port == 443 || c.port == 8443);
    }
    // A given length counts, not the NUL.
    EXPECT_EQ(Build("http://h/abcdef", nullptr, 0, 0, 0, 12).text.substr(0, 15), "GET /abc HTTP/1");
}

// A save made again asks for an item only if it changed since its file was written (the
// date's text is HttpDate's test).
TEST(RequestText, IfModifiedSinceFromTheFileTime) {
    const std::string url = "http://h/a.gif";
    UrlRequest request{};
    request.url = url.c_str();
    for (const char* since : {"Sun, 06 Nov 1994 08:49:37 GMT", "", "x\r\nInjected: 1"}) {
        char text[qm::kRequestTextSize] = {}, host[qm::kHostNameSize] = {};
        int port = 80;
        ASSERT_TRUE(qm::BuildHttpRequest(&port, &request, text, host, nullptr, nullptr, since));
        const std::string line = std::string("If-Modified-Since: ") + since + "\r\n";
        EXPECT_EQ(std::string(text).find(line) != std::string::npos,
                  since == std::string("Sun, 06 Nov 1994 08:49:37 GMT"))
            << text;
        EXPECT_EQ(std::string(text).find("Injected"), std::string::npos);
    }
}

}  // namespace
