// The cookies of one save, kept as RFC 6265 keeps them (sections 5.1 to 5.4): what a
// Set-Cookie may set, for which host and path, and which cookies a request carries back.
// The jar is handed to the fetches of its save; the fetches that run side by side share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// A jar holds at most this many cookies, and this many for one domain; past either, the
// oldest give way, as browsers do.
constexpr size_t kMostCookies = 3000;
constexpr size_t kMostCookiesPerDomain = 180;

// A request's URL as cookies see it.
struct CookieUrl {
    bool secure = false;  // https
    std::string host;     // lower case, without user or port
    std::string path;     // begins with '/', without query or fragment
};

// False when `url` names no host. A URL without a scheme is taken as http.
bool SplitCookieUrl(std::string_view url, CookieUrl* out);

struct Cookie {
    std::string name, value;
    std::string domain;  // lower case: the host itself for a host-only cookie
    std::string path;
    bool hostOnly = true;  // sent to `domain` alone, not to the names below it
    bool secure = false;   // sent over https only
    bool httpOnly = false;
    bool persistent = false;  // false: kept for this session only
    int64_t expires = 0;      // when persistent: seconds since 1970-01-01 UTC
    uint64_t created = 0;     // the jar's order of creation; a replaced cookie keeps its own
};

// `host` is `domain`, or a name below it (an address never is).
bool DomainMatches(std::string_view host, std::string_view domain);
// A cookie of `cookiePath` goes with a request for `requestPath`.
bool PathMatches(std::string_view requestPath, std::string_view cookiePath);
// The path a cookie set without one gets: the request's path up to its last '/'.
std::string DefaultCookiePath(std::string_view requestPath);

class CookieJar {
public:
    // What became of a cookie offered to the jar.
    enum class Verdict {
        kKept,
        kExpired,       // expired already: it removed the cookie it replaces, if any
        kPublicSuffix,  // for a name anyone may register under
        kForeign,       // for a domain the setting host is not part of
        kTooLarge,      // name and value longer than kMostCookieBytes
        kUnreadable,    // not a cookie (Set-Cookie without '=', ...), or Secure over http
    };

    CookieJar() = default;
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    // A Set-Cookie field of a response to `from`, received at `now`.
    Verdict Receive(const CookieUrl& from, std::string_view setCookie, int64_t now);
    // A cookie as it stands (from a cookies file), at `now`.
    Verdict Add(Cookie cookie, int64_t now);

    // The names and values a request to `to` carries at `now`, in the order they are sent:
    // longer paths first, then the older first.
    std::vector<std::pair<std::string, std::string>> CookiesFor(const CookieUrl& to,
                                                                int64_t now) const;
    // Every cookie not expired at `now`, by domain, then the older first.
    std::vector<Cookie> All(int64_t now) const;

private:
    Verdict Store(Cookie cookie, int64_t now);
    void DropOldest();

    mutable std::mutex mutex_;
    std::map<std::string, std::vector<Cookie>> byDomain_;
    size_t count_ = 0;
    uint64_t nextCreated_ = 1;
};

}  // namespace qm
