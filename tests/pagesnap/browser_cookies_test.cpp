// The cookies of a page between the system's store and the browser: what is handed in,
// how it is quoted, and what comes back into the store.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "browser_cookies.h"
#include "json.h"

namespace pagesnap {
namespace {

// "name=value", with " (HttpOnly)" for an HttpOnly one.
std::vector<std::string> Described(const std::vector<StoreCookie>& cookies) {
    std::vector<std::string> out;
    for (const StoreCookie& c : cookies)
        out.push_back(c.name + "=" + c.value + (c.httpOnly ? " (HttpOnly)" : ""));
    return out;
}

TEST(BrowserCookies, TheStoresCookieTextBecomesNamesAndValues) {
    const std::string longValue(kMaxCookieBytes - 1, 'v');
    struct Case {
        const char* name;
        std::string plain;
        std::string withHttpOnly;
        std::vector<std::string> cookies;
    } const cases[] = {
        {"nothing in the store", "", "", {}},
        {"pairs in order", "a=1; b=2", "", {"a=1", "b=2"}},
        {"blanks around names and values, '=' inside a value, a trailing ';'",
         " a = 1 ;b=x=y;\tc=;",
         "",
         {"a=1", "b=x=y", "c="}},
        {"parts without a name", "alone; =v; a=1", "", {"a=1"}},
        {"control characters", std::string("a=1\x01; b\x7f=2; c=3; d=\t4\n"), "", {"c=3"}},
        {"the first cookie of a name", "a=deep; a=root", "", {"a=deep"}},
        {"too long for the browser",
         "k=" + longValue + "; kk=" + longValue,
         "",
         {"k=" + longValue}},
        {"HttpOnly cookies are those only the fuller read has",
         "a=1",
         "s=secret; a=1",
         {"s=secret (HttpOnly)", "a=1"}},
        {"an HttpOnly cookie of a name the script may see too",
         "a=root",
         "a=deep; a=root",
         {"a=deep (HttpOnly)"}},
        {"only HttpOnly cookies", "", "s=1", {"s=1 (HttpOnly)"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Described(StoreCookiesFromText(c.plain, c.withHttpOnly)), c.cookies) << c.name;
    }
}

TEST(BrowserCookies, SetCookiesNamesThePageAndQuotesEveryText) {
    EXPECT_EQ(SetCookiesParams({}, "http://h/"), "") << "no cookies, no command";
    const std::string url = "http://h/p?q=\"1\"";
    const std::vector<StoreCookie> cookies = {{"q\"b\\", "\xc3\xa9t\xc3\xa9", false},
                                              {"s", "1", true}};
    JsonValue params;
    ASSERT_TRUE(ParseJson(SetCookiesParams(cookies, url), &params));
    const std::vector<JsonValue>& list = params.Find("cookies")->Items();
    ASSERT_EQ(list.size(), 2u);
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].Find("url")->AsString(), url);
        EXPECT_EQ(list[i].Find("name")->AsString(), cookies[i].name);
        EXPECT_EQ(list[i].Find("value")->AsString(), cookies[i].value);
    }
    EXPECT_EQ(list[0].Find("httpOnly"), nullptr);
    EXPECT_TRUE(list[1].Find("httpOnly")->AsBool());
}

TEST(BrowserCookies, WhatTheBrowserGotGoesBackWithItsAttributes) {
    JsonValue result;
    ASSERT_TRUE(ParseJson(R"({"cookies":[
        {"name":"same","value":"1","domain":"h","path":"/","expires":-1,"session":true},
        {"name":"changed","value":"new","domain":"h","path":"/a","expires":-1,"session":true},
        {"name":"kept","value":"v","domain":".example.org","path":"/","expires":1798761599.5,
         "session":false,"secure":true,"httpOnly":true},
        {"name":"host","value":"v","domain":"h","path":"/","expires":951782400,"session":false},
        {"name":"noexpiry","value":"v","domain":"h","path":"/","expires":0,"session":false},
        {"name":"semicolon","value":"a;b","domain":"h","path":"/","session":true},
        {"name":"control","value":"a\u0001","domain":"h","path":"/","session":true},
        {"name":"odd attributes","value":"v","domain":".","path":"x;y","session":true},
        {"name":"novalue","domain":"h"}]})",
                          &result));
    const std::vector<StoreCookie> handedIn = {{"same", "1"}, {"changed", "old"}};
    struct Expected {
        const char* name;
        const char* data;
    } const expected[] = {
        {"changed", "new; path=/a"},
        {"kept",
         "v; expires=Thu, 31-Dec-2026 23:59:59 GMT; path=/; domain=.example.org; secure; "
         "httponly"},
        {"host", "v; expires=Tue, 29-Feb-2000 00:00:00 GMT; path=/"},
        {"noexpiry", "v; path=/"},
        {"odd attributes", "v"},
    };
    EXPECT_EQ(BrowserCookiesFromResult(result).size(), 8u) << "the one without a value left out";
    const std::vector<BrowserCookie> back =
        CookiesForStore(BrowserCookiesFromResult(result), handedIn);
    ASSERT_EQ(back.size(), sizeof expected / sizeof expected[0]);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].name, expected[i].name);
        EXPECT_EQ(StoreCookieData(back[i]), expected[i].data) << expected[i].name;
    }
    EXPECT_TRUE(CookiesForStore(BrowserCookiesFromResult(JsonValue()), handedIn).empty());
}

TEST(BrowserCookies, ExpiryDatesAreKeptWithinWhatTheStoreReads) {
    struct Case {
        double seconds;
        const char* date;
    } const cases[] = {
        {0, "Thu, 01-Jan-1970 00:00:00 GMT"},
        {-5, "Thu, 01-Jan-1970 00:00:00 GMT"},
        {std::nan(""), "Thu, 01-Jan-1970 00:00:00 GMT"},
        {4102444800.9, "Fri, 01-Jan-2100 00:00:00 GMT"},
        {1e300, "Fri, 31-Dec-9999 23:59:59 GMT"},
        {std::numeric_limits<double>::infinity(), "Fri, 31-Dec-9999 23:59:59 GMT"},
        {-std::numeric_limits<double>::infinity(), "Thu, 01-Jan-1970 00:00:00 GMT"},
    };
    for (const Case& c : cases) EXPECT_EQ(CookieDate(c.seconds), c.date) << c.seconds;
}

}  // namespace
}  // namespace pagesnap
