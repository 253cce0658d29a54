#include "browser_cookies.h"

#include <cmath>
#include <cstdio>

namespace pagesnap {

namespace {

bool HasControlCharacter(const std::string& text) {
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return true;
    }
    return false;
}

std::string Trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(begin, end - begin);
}

// Every well-formed "name=value" part of the text, in order, duplicates included.
std::vector<StoreCookie> SplitCookieText(const std::string& text) {
    std::vector<StoreCookie> cookies;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = part.find('=');
        if (equals == std::string::npos) continue;
        StoreCookie cookie{Trimmed(part.substr(0, equals)), Trimmed(part.substr(equals + 1))};
        if (cookie.name.empty() || HasControlCharacter(cookie.name) ||
            HasControlCharacter(cookie.value) ||
            cookie.name.size() + cookie.value.size() > kMaxCookieBytes) {
            continue;
        }
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

bool Holds(const std::vector<StoreCookie>& cookies, const std::string& name,
           const std::string* value) {
    for (const StoreCookie& c : cookies) {
        if (c.name == name && (!value || c.value == *value)) return true;
    }
    return false;
}

bool StoreCanCarry(const BrowserCookie& cookie) {
    return !cookie.name.empty() && cookie.name.find_first_of("=;") == std::string::npos &&
           cookie.value.find(';') == std::string::npos && !HasControlCharacter(cookie.name) &&
           !HasControlCharacter(cookie.value);
}

// A cookie attribute's value is taken up to the next ';' by the store.
bool UsableAttribute(const std::string& text) {
    return !text.empty() && text.find(';') == std::string::npos && !HasControlCharacter(text);
}

}  // namespace

std::vector<StoreCookie> StoreCookiesFromText(const std::string& plain,
                                              const std::string& withHttpOnly) {
    const std::vector<StoreCookie> visible = SplitCookieText(plain);
    const std::vector<StoreCookie> all =
        withHttpOnly.empty() ? visible : SplitCookieText(withHttpOnly);
    std::vector<StoreCookie> cookies;
    for (const StoreCookie& c : all) {
        if (Holds(cookies, c.name, nullptr)) continue;
        cookies.push_back(c);
        cookies.back().httpOnly = !Holds(visible, c.name, &c.value);
    }
    return cookies;
}

std::string SetCookiesParams(const std::vector<StoreCookie>& cookies, const std::string& url) {
    if (cookies.empty()) return std::string();
    std::string params = "{\"cookies\":[";
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        if (i > 0) params += ',';
        params += "{\"url\":" + JsonQuote(url) + ",\"name\":" + JsonQuote(cookies[i].name) +
                  ",\"value\":" + JsonQuote(cookies[i].value);
        if (cookies[i].httpOnly) params += ",\"httpOnly\":true";
        params += '}';
    }
    return params + "]}";
}

std::vector<BrowserCookie> BrowserCookiesFromResult(const JsonValue& result) {
    std::vector<BrowserCookie> cookies;
    const JsonValue* list = result.Find("cookies");
    if (!list) return cookies;
    for (const JsonValue& item : list->Items()) {
        const JsonValue* name = item.Find("name");
        const JsonValue* value = item.Find("value");
        if (!name || !name->IsString() || !value || !value->IsString()) continue;
        BrowserCookie cookie;
        cookie.name = name->AsString();
        cookie.value = value->AsString();
        if (const JsonValue* domain = item.Find("domain")) cookie.domain = domain->AsString();
        if (const JsonValue* path = item.Find("path")) cookie.path = path->AsString();
        const JsonValue* expires = item.Find("expires");
        const JsonValue* session = item.Find("session");
        cookie.expires = expires ? expires->AsNumber() : -1;
        // Without a usable expiry the cookie ends with the session, whatever it says.
        cookie.session =
            (session && session->AsBool()) || !std::isfinite(cookie.expires) || cookie.expires <= 0;
        if (const JsonValue* secure = item.Find("secure")) cookie.secure = secure->AsBool();
        if (const JsonValue* httpOnly = item.Find("httpOnly")) cookie.httpOnly = httpOnly->AsBool();
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

std::vector<BrowserCookie> CookiesForStore(const std::vector<BrowserCookie>& received,
                                           const std::vector<StoreCookie>& handedIn) {
    std::vector<BrowserCookie> cookies;
    for (const BrowserCookie& c : received) {
        if (StoreCanCarry(c) && !Holds(handedIn, c.name, &c.value)) cookies.push_back(c);
    }
    return cookies;
}

std::string StoreCookieData(const BrowserCookie& cookie) {
    std::string data = cookie.value;
    if (!cookie.session) data += "; expires=" + CookieDate(cookie.expires);
    if (UsableAttribute(cookie.path) && cookie.path[0] == '/') data += "; path=" + cookie.path;
    // A domain without its leading dot is the host the cookie came from: the store takes a
    // cookie without a domain as the URL's host's own.
    if (UsableAttribute(cookie.domain) && cookie.domain[0] == '.' && cookie.domain.size() > 1)
        data += "; domain=" + cookie.domain;
    if (cookie.secure) data += "; secure";
    if (cookie.httpOnly) data += "; httponly";
    return data;
}

std::string CookieDate(double secondsSince1970) {
    constexpr double kLast = 253402300799.0;  // 9999-12-31 23:59:59
    double clamped = std::isnan(secondsSince1970) ? 0.0 : std::floor(secondsSince1970);
    if (clamped < 0) clamped = 0;
    if (clamped > kLast) clamped = kLast;
    const long long seconds = static_cast<long long>(clamped);
    const long long days = seconds / 86400;
    const long long inDay = seconds % 86400;

    // The civil date of a day count from 1970-01-01, in eras of 400 years from 0000-03-01.
    const long long z = days + 719468;
    const long long era = z / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    static const char* const kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[96];  // room for any number the format could be given
    std::snprintf(text, sizeof text, "%s, %02d-%s-%04lld %02lld:%02lld:%02lld GMT",
                  kWeekdays[days % 7], day, kMonths[month - 1], year, inDay / 3600, inDay / 60 % 60,
                  inDay % 60);
    return text;
}

}  // namespace pagesnap
