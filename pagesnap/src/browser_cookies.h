// The cookies of a page on their way between the system's cookie store and the browser:
// the store's Cookie text turned into the browser's Network.setCookies command, and the
// browser's Network.getCookies answer turned into what goes back into the store. The
// store itself is read and written by store_cookies_win32.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "json.h"

namespace pagesnap {

// Longest name and value together that a browser takes; a longer cookie would make it
// refuse the whole command.
constexpr std::size_t kMaxCookieBytes = 4096;

// A cookie as the store hands it out for a URL: its Cookie text has no attributes.
struct StoreCookie {
    std::string name;
    std::string value;
    bool httpOnly = false;
};

// The cookies of the store's Cookie text ("a=1; b=2"), in its order. `withHttpOnly` is the
// same store read with its HttpOnly cookies included (empty where that read failed): the
// cookies only it holds are the HttpOnly ones, and stay so in the browser. Only the first
// cookie of a name is kept (the store puts the one of the longest path first, the one a
// server reads); parts without a name, and names or values with control characters or
// too long for the browser, are left out.
std::vector<StoreCookie> StoreCookiesFromText(const std::string& plain,
                                              const std::string& withHttpOnly);

// The params of Network.setCookies that give the browser `cookies` for `url`; empty when
// there are none, and then no command is sent.
std::string SetCookiesParams(const std::vector<StoreCookie>& cookies, const std::string& url);

// A cookie as the browser holds it (a Network.Cookie).
struct BrowserCookie {
    std::string name;
    std::string value;
    std::string domain;  // begins with '.' for a cookie of the domain and its subdomains
    std::string path;
    double expires = -1;  // seconds since 1970; a session cookie has none
    bool session = true;
    bool secure = false;
    bool httpOnly = false;
};

// The cookies of a Network.getCookies result; entries without a string name and value are
// left out.
std::vector<BrowserCookie> BrowserCookiesFromResult(const JsonValue& result);

// The browser's cookies that go back into the store: those it got that were not handed in
// with the same value, and only those the store's cookie text can carry (a name without
// '=', ';' or control characters; a value without ';' or control characters).
std::vector<BrowserCookie> CookiesForStore(const std::vector<BrowserCookie>& received,
                                           const std::vector<StoreCookie>& handedIn);

// The cookie data the store is given with the cookie's name: "value; expires=...; path=/;
// domain=.example.org; secure; httponly". No expiry for a session cookie.
std::string StoreCookieData(const BrowserCookie& cookie);

// "Thu, 01-Jan-1970 00:00:00 GMT" for a time in seconds since 1970, kept within the years
// 1970 to 9999.
std::string CookieDate(double secondsSince1970);

}  // namespace pagesnap
