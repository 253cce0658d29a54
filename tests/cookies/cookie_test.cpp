// The jar as RFC 6265 has it, row by row: what a Set-Cookie sets, and which request carries
// it back; the dates servers write; the cookies file as curl reads and writes it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cookie_jar.h"
#include "cookies_file.h"
#include "fetch.h"
#include "http_date.h"
#include "set_cookie.h"

namespace {

constexpr int64_t kNow = 1700000000;  // 2023-11-14

qm::CookieUrl Url(const std::string& url) {
    qm::CookieUrl split;
    EXPECT_TRUE(qm::SplitCookieUrl(url, &split)) << url;
    return split;
}

std::string Line(const qm::CookieJar& jar, const std::string& url, int64_t now = kNow) {
    std::string line;
    for (const auto& [name, value] : jar.CookiesFor(Url(url), now))
        line += (line.empty() ? "" : "; ") + name + "=" + value;
    return line;
}

TEST(CookieJar, SendsACookieWhereRfc6265SaysAndNowhereElse) {
    const std::string big(qm::kMostCookieBytes, 'v');
    const struct {
        const char* name;
        std::string from, setCookie, to, sent;
    } rows[] = {
        {"back to its host", "http://example.com/", "a=1", "http://example.com/x", "a=1"},
        {"any port of the host", "http://example.com:8080/", "a=1", "http://example.com:9/", "a=1"},
        {"host-only: not to a name below", "http://example.com/", "a=1", "http://www.example.com/",
         ""},
        {"Domain: to every name below", "http://www.example.com/", "a=1; Domain=example.com",
         "http://img.a.example.com/", "a=1"},
        {"Domain in any case, its dot dropped", "http://www.example.com/",
         "a=1; domain=.Example.COM", "http://example.com/", "a=1"},
        {"another domain", "http://example.com/", "a=1; Domain=other.org", "http://other.org/", ""},
        {"a domain that only ends alike", "http://www.example.com/", "a=1; Domain=example.com",
         "http://notexample.com/", ""},
        {"the public suffix com", "http://www.example.com/", "a=1; Domain=com", "http://other.com/",
         ""},
        {"the public suffix co.uk", "http://shop.example.co.uk/", "a=1; Domain=co.uk",
         "http://other.co.uk/", ""},
        {"a site under co.uk", "http://shop.example.co.uk/", "a=1; Domain=example.co.uk",
         "http://www.example.co.uk/", "a=1"},
        {"a public suffix as host: for itself", "http://github.io/", "a=1; Domain=github.io",
         "http://github.io/", "a=1"},
        {"a public suffix as host: not below", "http://github.io/", "a=1; Domain=github.io",
         "http://x.github.io/", ""},
        {"an address: no domain above it", "http://127.0.0.1/", "a=1; Domain=0.0.1",
         "http://127.0.0.1/", ""},
        {"expired by Max-Age 0", "http://example.com/", "a=1; Max-Age=0", "http://example.com/",
         ""},
        {"expired by a negative Max-Age", "http://example.com/", "a=1; Max-Age=-5",
         "http://example.com/", ""},
        {"expired by Expires", "http://example.com/", "a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT",
         "http://example.com/", ""},
        {"Expires to come", "http://example.com/", "a=1; Expires=Fri, 01 Jan 2038 00:00:00 GMT",
         "http://example.com/", "a=1"},
        {"Max-Age wins over a later Expires", "http://example.com/",
         "a=1; Max-Age=0; Expires=Fri, 01 Jan 2038 00:00:00 GMT", "http://example.com/", ""},
        {"Max-Age wins over an earlier Expires", "http://example.com/",
         "a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=60", "http://example.com/", "a=1"},
        {"an unreadable Max-Age is left out", "http://example.com/", "a=1; Max-Age=1e3",
         "http://example.com/", "a=1"},
        {"Secure over http", "https://example.com/", "a=1; Secure", "http://example.com/", ""},
        {"Secure over https", "https://example.com/", "a=1; Secure", "HTTPS://example.com/", "a=1"},
        {"Secure set over http", "http://example.com/", "a=1; Secure", "https://example.com/", ""},
        {"a path below the cookie's", "http://example.com/", "a=1; Path=/account",
         "http://example.com/account/x", "a=1"},
        {"the cookie's path itself", "http://example.com/", "a=1; Path=/account",
         "http://example.com/account?x", "a=1"},
        {"a path that only begins alike", "http://example.com/", "a=1; Path=/account",
         "http://example.com/accounting", ""},
        {"another path", "http://example.com/", "a=1; Path=/account", "http://example.com/", ""},
        {"the default path: the setter's folder", "http://example.com/docs/a.html", "a=1",
         "http://example.com/docs/b", "a=1"},
        {"the default path: not above it", "http://example.com/docs/a.html", "a=1",
         "http://example.com/", ""},
        {"a Path without '/' is the default", "http://example.com/docs/a.html", "a=1; Path=x",
         "http://example.com/", ""},
        {"blanks around name and value", "http://example.com/", " a = 1 ;Path=/",
         "http://example.com/", "a=1"},
        {"no '=': no cookie", "http://example.com/", "a; Path=/", "http://example.com/", ""},
        {"an empty name: no cookie", "http://example.com/", "=1", "http://example.com/", ""},
        {"a control character: no cookie", "http://example.com/", "a=1\x01", "http://example.com/",
         ""},
        {"4096 bytes of name and value", "http://example.com/", "a=" + big.substr(1),
         "http://example.com/", "a=" + big.substr(1)},
        {"longer: no cookie", "http://example.com/", "a=" + big, "http://example.com/", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        qm::CookieJar jar;
        jar.Receive(Url(row.from), row.setCookie, kNow);
        EXPECT_EQ(Line(jar, row.to), row.sent);
    }
}

// Longer paths first, then the older; a cookie set again keeps its place, and one set
// expired removes it. A session cookie lives on; a persistent one ends at its time.
TEST(CookieJar, OrdersReplacesAndExpires) {
    qm::CookieJar jar;
    const qm::CookieUrl site = Url("http://example.com/a/b");
    for (const char* set : {"first=1; Path=/", "deep=2; Path=/a/b", "mid=3; Path=/a",
                            "later=4; Path=/", "first=5; Path=/", "brief=6; Max-Age=10"})
        jar.Receive(site, set, kNow);
    EXPECT_EQ(Line(jar, "http://example.com/a/b/c"), "deep=2; mid=3; brief=6; first=5; later=4");
    EXPECT_EQ(Line(jar, "http://example.com/a/b/c", kNow + 10), "deep=2; mid=3; first=5; later=4");
    jar.Receive(site, "mid=x; Path=/a; Expires=Thu, 01 Jan 1970 00:00:00 GMT", kNow);
    EXPECT_EQ(Line(jar, "http://example.com/a/b/c"), "deep=2; brief=6; first=5; later=4");
    // The same name on another path is another cookie.
    jar.Receive(site, "first=6; Path=/a", kNow);
    EXPECT_EQ(Line(jar, "http://example.com/a/"), "brief=6; first=6; first=5; later=4");
}

// However many cookies a site sets, the jar keeps a bounded number: the oldest give way.
TEST(CookieJar, KeepsABoundedNumber) {
    qm::CookieJar jar;
    const qm::CookieUrl site = Url("http://example.com/");
    for (size_t i = 0; i < qm::kMostCookiesPerDomain + 20; ++i)
        jar.Receive(site, "c" + std::to_string(i) + "=1", kNow);
    std::vector<qm::Cookie> all = jar.All(kNow);
    ASSERT_EQ(all.size(), qm::kMostCookiesPerDomain);
    EXPECT_EQ(all.front().name, "c20");

    for (size_t i = 0; i < qm::kMostCookies + 10; ++i)
        jar.Receive(Url("http://h" + std::to_string(i) + ".example.org/"), "d=1", kNow);
    all = jar.All(kNow);
    EXPECT_EQ(all.size(), qm::kMostCookies);
    EXPECT_EQ(Line(jar, "http://example.com/"), "");  // the oldest of all went first
    EXPECT_EQ(Line(jar, "http://h9.example.org/"), "");
    EXPECT_EQ(Line(jar, "http://h10.example.org/"), "d=1");
}

// The dates servers write are read; the ones a request writes (If-Modified-Since) are the
// first form, and read back.
TEST(HttpDate, ReadsTheDatesServersWriteAndWritesItsOwn) {
    const struct {
        const char* text;
        bool ok;
        int64_t seconds;
        bool written = false;
    } rows[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", true, 784111777, true},
        {"Sunday, 06-Nov-94 08:49:37 GMT", true, 784111777},
        {"Sun Nov  6 08:49:37 1994", true, 784111777},
        {"6 nov 1994 8:49:37", true, 784111777},
        {"Thu, 29 Feb 2024 12:00:00 GMT", true, 1709208000, true},
        {"Thu, 01 Jan 1970 00:00:00 GMT", true, 0, true},
        {"Thu, 01 Jan 70 00:00:00 GMT", true, 0},
        {"Tue, 29 Feb 2000 00:00:00 GMT", true, 951782400, true},
        {"Sun, 28 Feb 2100 23:59:59 GMT", true, 4107542399, true},
        {"Mon, 01 Jan 1601 00:00:00 GMT", true, -11644473600},
        {"Fri, 31 Dec 9999 23:59:59 GMT", true, 253402300799, true},
        {"Fri, 30 Feb 2024 12:00:00 GMT", false, 0},
        {"Fri, 32 Jan 2024 12:00:00 GMT", false, 0},
        {"Fri, 01 Jan 1600 12:00:00 GMT", false, 0},
        {"Fri, 01 Jan 2024 24:00:00 GMT", false, 0},
        {"Fri, 01 Jan 2024 GMT", false, 0},
        {"Fri, 01 2024 12:00:00 GMT", false, 0},
        {"", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        int64_t seconds = -1;
        EXPECT_EQ(qm::ParseHttpDate(row.text, &seconds), row.ok);
        if (row.ok) {
            EXPECT_EQ(seconds, row.seconds);
        }
        if (row.written) {
            EXPECT_EQ(qm::HttpDate(row.seconds), row.text);
        }
    }
    // None is written for a time before 1970 or after 9999.
    EXPECT_EQ(qm::HttpDate(-1), "");
    EXPECT_EQ(qm::HttpDate(253402300800), "");
}

// A cookies file as curl and browsers' export add-ons write it, with the lines that hold no
// cookie reported by number and passed over; what the jar writes reads back the same.
TEST(CookiesFile, ReadsAsCurlReadsAndWritesWhatReadsBack) {
    const std::string text =
        "# Netscape HTTP Cookie File\r\n"
        "\r\n"
        ".example.com\tTRUE\t/\tFALSE\t0\tsession\tabc\r\n"
        "#HttpOnly_example.com\tFALSE\t/app\tTRUE\t2145916800\tlogin\tx=y\n"
        "  \t\n"
        "example.com\tFALSE\t/\tFALSE\t0\tempty\n"            // six fields: no value
        "www.example.com\tFALSE\tFALSE\t0\tnopath\t1\n"       // no path: "/"
        "example.com\tFALSE\t/\tFALSE\t1445412480\told\t1\n"  // expired: left out
        "example.com\tFALSE\t/\tFALSE\tsoon\tbad\t1\n"        // line 9
        "example.com\tFALSE\t/\tFALSE\t0\tname\n\n"           // an empty value again
        ".co.uk\tTRUE\t/\tFALSE\t0\tsuffix\t1\n"              // line 12
        "example.com\tFALSE\t/\tFALSE\t0\ta\tb\tc\n"          // line 13
        "just words\n"                                        // line 14
        "example.com\tFALSE\tpath\tFALSE\t0\tp\t1\n"          // line 15
        "example.com\tFALSE\t/\tFALSE\t0\tlast\t1";           // no line end
    qm::CookieJar jar;
    std::vector<std::string> skipped;
    qm::ReadCookiesText(text, jar, kNow, [&](int32_t line, const char* reason) {
        skipped.push_back(std::to_string(line) + ": " + reason);
    });
    EXPECT_EQ(skipped, (std::vector<std::string>{
                           "9: the expiry is not a number of seconds",
                           "12: a cookie for a public suffix",
                           "13: more than 7 fields",
                           "14: not 7 fields separated by tabs",
                           "15: the path does not begin with /",
                       }));
    EXPECT_EQ(Line(jar, "http://www.example.com/"), "session=abc; nopath=1");
    EXPECT_EQ(Line(jar, "http://example.com/app/"), "session=abc; empty=; name=; last=1");
    EXPECT_EQ(Line(jar, "https://example.com/app/"),
              "login=x=y; session=abc; empty=; name=; last=1");

    const std::string written = qm::WriteCookiesText(jar, kNow);
    EXPECT_EQ(written.substr(written.find("\n\n") + 2),
              ".example.com\tTRUE\t/\tFALSE\t0\tsession\tabc\n"
              "#HttpOnly_example.com\tFALSE\t/app\tTRUE\t2145916800\tlogin\tx=y\n"
              "example.com\tFALSE\t/\tFALSE\t0\tempty\t\n"
              "example.com\tFALSE\t/\tFALSE\t0\tname\t\n"
              "example.com\tFALSE\t/\tFALSE\t0\tlast\t1\n"
              "www.example.com\tFALSE\t/\tFALSE\t0\tnopath\t1\n");
    qm::CookieJar again;
    qm::ReadCookiesText(written, again, kNow, [](int32_t, const char*) { ADD_FAILURE(); });
    EXPECT_EQ(qm::WriteCookiesText(again, kNow), written);
}

// However many cookies the jar holds, the request stays within its area: the Cookie line
// takes those that fit, in their order.
TEST(CookieLine, TakesTheCookiesThatFitTheRequest) {
    qm::CookieJar jar;
    const qm::CookieUrl site = Url("http://example.com/");
    for (int i = 0; i < 12; ++i)
        jar.Receive(site, "c" + std::to_string(i) + "=" + std::string(1000, 'a' + i), kNow);
    jar.Receive(site, "small=1", kNow);
    const std::string url = "http://example.com/" + std::string(200, 'p');
    UrlRequest request{};
    request.url = url.c_str();
    char text[qm::kRequestTextSize] = {}, host[qm::kHostNameSize] = {};
    int port = 80;
    ASSERT_TRUE(qm::BuildHttpRequest(&port, &request, text, host, nullptr, &jar));
    const std::string built = text;
    const size_t at = built.find("\r\nCookie: c0=aaa");
    ASSERT_NE(at, std::string::npos);
    const std::string line = built.substr(at + 10, built.find("\r\n", at + 2) - at - 10);
    EXPECT_EQ(line.substr(line.size() - 9), "; small=1");
    EXPECT_EQ(line.find("c6="), 6 * 1005u);
    EXPECT_EQ(line.find("c7="), std::string::npos);
    EXPECT_EQ(built.substr(built.size() - 4), "\r\n\r\n");
    // A request elsewhere carries none.
    const std::string other = "http://example.org/";
    request.url = other.c_str();
    ASSERT_TRUE(qm::BuildHttpRequest(&port, &request, text, host, nullptr, &jar));
    EXPECT_EQ(std::string(text).find("Cookie"), std::string::npos);
}

}  // namespace
