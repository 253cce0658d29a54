#include "cookie_jar.h"

#include <algorithm>
#include <limits>

#include "ascii.h"
#include "public_suffix.h"
#include "set_cookie.h"

namespace qm {
namespace {

// An IPv4 address (digits and dots) or an IPv6 one in brackets: no domain lies above it.
bool IsAddress(std::string_view host) {
    if (!host.empty() && host.front() == '[') return true;
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

// What the jar keeps must go into a request line and a cookies file as it is.
bool Storable(const Cookie& cookie) {
    return !cookie.name.empty() && !cookie.domain.empty() && !cookie.path.empty() &&
           cookie.path.front() == '/' && !HasControl(cookie.name) && !HasControl(cookie.value) &&
           !HasControl(cookie.domain) && !HasControl(cookie.path);
}

bool Expired(const Cookie& cookie, int64_t now) {
    return cookie.persistent && cookie.expires <= now;
}

void AssignLower(std::string_view text, std::string* out) {
    out->clear();
    for (char c : text) *out += Lower(c);
}

}  // namespace

bool SplitCookieUrl(std::string_view url, CookieUrl* out) {
    *out = CookieUrl();
    out->secure = StartsWithNoCase(url.data(), url.size(), "https://");
    if (out->secure) url.remove_prefix(8);
    else if (StartsWithNoCase(url.data(), url.size(), "http://")) url.remove_prefix(7);
    size_t authorityEnd = url.find_first_of("/?#");
    std::string_view authority = url.substr(0, authorityEnd);
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close != std::string_view::npos) authority = authority.substr(0, close + 1);
    } else {
        size_t colon = authority.rfind(':');
        if (colon != std::string_view::npos &&
            authority.find_first_not_of("0123456789", colon + 1) == std::string_view::npos)
            authority = authority.substr(0, colon);
    }
    AssignLower(authority, &out->host);

    std::string_view path =
        authorityEnd == std::string_view::npos ? std::string_view() : url.substr(authorityEnd);
    path = path.substr(0, path.find_first_of("?#"));
    out->path = !path.empty() && path.front() == '/' ? std::string(path) : "/";
    // A name that no cookies file could carry, or that would read as a domain cookie's.
    const std::string_view unfit("\0\t\n\r \x7f", 6);
    return !out->host.empty() && out->host.front() != '.' &&
           out->host.find_first_of(unfit) == std::string::npos;
}

bool DomainMatches(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    return !domain.empty() && host.size() > domain.size() && !IsAddress(host) &&
           host.substr(host.size() - domain.size()) == domain &&
           host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.size() <= cookiePath.size() ||
        requestPath.compare(0, cookiePath.size(), cookiePath) != 0)
        return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string DefaultCookiePath(std::string_view requestPath) {
    if (requestPath.empty() || requestPath.front() != '/') return "/";
    size_t last = requestPath.rfind('/');
    if (last == 0) return "/";
    return std::string(requestPath.substr(0, last));
}

CookieJar::Verdict CookieJar::Receive(const CookieUrl& from, std::string_view setCookie,
                                      int64_t now) {
    SetCookie set;
    if (!ParseSetCookie(setCookie, &set)) return Verdict::kUnreadable;
    // A cookie that only https may read cannot come over http.
    if (set.secure && !from.secure) return Verdict::kUnreadable;
    Cookie cookie;
    cookie.name = std::move(set.name);
    cookie.value = std::move(set.value);
    // Max-Age wins over Expires, wherever each stands.
    if (set.hasMaxAge) {
        cookie.persistent = true;
        cookie.expires = set.maxAge <= 0 ? std::numeric_limits<int64_t>::min() : now + set.maxAge;
    } else if (set.hasExpires) {
        cookie.persistent = true;
        cookie.expires = set.expires;
    }
    std::string domain = set.hasDomain ? std::move(set.domain) : std::string();
    // A host that is itself a public suffix may set a cookie for itself alone.
    if (!domain.empty() && IsPublicSuffix(domain)) {
        if (domain != from.host) return Verdict::kPublicSuffix;
        domain.clear();
    }
    if (!domain.empty()) {
        if (!DomainMatches(from.host, domain)) return Verdict::kForeign;
        cookie.hostOnly = false;
        cookie.domain = std::move(domain);
    } else {
        cookie.hostOnly = true;
        cookie.domain = from.host;
    }
    cookie.path = set.hasPath ? std::move(set.path) : DefaultCookiePath(from.path);
    cookie.secure = set.secure;
    cookie.httpOnly = set.httpOnly;
    if (!Storable(cookie)) return Verdict::kUnreadable;
    return Store(std::move(cookie), now);
}

CookieJar::Verdict CookieJar::Add(Cookie cookie, int64_t now) {
    if (cookie.name.size() + cookie.value.size() > kMostCookieBytes) return Verdict::kTooLarge;
    if (!Storable(cookie)) return Verdict::kUnreadable;
    if (!cookie.hostOnly && IsPublicSuffix(cookie.domain)) return Verdict::kPublicSuffix;
    if (Expired(cookie, now)) return Verdict::kExpired;
    return Store(std::move(cookie), now);
}

CookieJar::Verdict CookieJar::Store(Cookie cookie, int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = byDomain_.try_emplace(cookie.domain).first;
    std::vector<Cookie>& list = entry->second;
    auto gone =
        std::remove_if(list.begin(), list.end(), [&](const Cookie& c) { return Expired(c, now); });
    count_ -= static_cast<size_t>(list.end() - gone);
    list.erase(gone, list.end());

    // A cookie of the same name, domain and path is replaced, keeping its place in the order.
    cookie.created = nextCreated_++;
    for (auto old = list.begin(); old != list.end(); ++old) {
        if (old->name == cookie.name && old->path == cookie.path) {
            cookie.created = old->created;
            list.erase(old);
            --count_;
            break;
        }
    }
    // An expired cookie only removes the one it replaces: that is how a site deletes one.
    Verdict verdict = Verdict::kExpired;
    if (!Expired(cookie, now)) {
        if (list.size() >= kMostCookiesPerDomain) {
            list.erase(std::min_element(
                list.begin(), list.end(),
                [](const Cookie& a, const Cookie& b) { return a.created < b.created; }));
            --count_;
        }
        list.push_back(std::move(cookie));
        ++count_;
        verdict = Verdict::kKept;
    }
    if (list.empty()) byDomain_.erase(entry);
    while (count_ > kMostCookies) DropOldest();
    return verdict;
}

// Makes room at the jar's limit: the oldest cookie of all goes.
void CookieJar::DropOldest() {
    auto oldestList = byDomain_.end();
    size_t oldestAt = 0;
    for (auto it = byDomain_.begin(); it != byDomain_.end(); ++it) {
        for (size_t i = 0; i < it->second.size(); ++i) {
            if (oldestList == byDomain_.end() ||
                it->second[i].created < oldestList->second[oldestAt].created) {
                oldestList = it;
                oldestAt = i;
            }
        }
    }
    if (oldestList == byDomain_.end()) return;
    oldestList->second.erase(oldestList->second.begin() + static_cast<ptrdiff_t>(oldestAt));
    --count_;
    if (oldestList->second.empty()) byDomain_.erase(oldestList);
}

std::vector<std::pair<std::string, std::string>> CookieJar::CookiesFor(const CookieUrl& to,
                                                                       int64_t now) const {
    std::vector<const Cookie*> sent;
    std::lock_guard<std::mutex> lock(mutex_);
    // The host, then every domain above it: "a.b.example" asks "a.b.example", "b.example"
    // and "example".
    std::string_view host = to.host;
    for (size_t from = 0; from != std::string_view::npos;) {
        std::string_view domain = host.substr(from);
        auto list = byDomain_.find(std::string(domain));
        if (list != byDomain_.end()) {
            for (const Cookie& cookie : list->second) {
                if (Expired(cookie, now)) continue;
                if (cookie.hostOnly ? domain.size() != host.size()
                                    : !DomainMatches(host, cookie.domain))
                    continue;
                if (!PathMatches(to.path, cookie.path)) continue;
                if (cookie.secure && !to.secure) continue;
                sent.push_back(&cookie);
            }
        }
        if (IsAddress(host)) break;
        size_t dot = host.find('.', from);
        from = dot == std::string_view::npos ? dot : dot + 1;
    }
    std::sort(sent.begin(), sent.end(), [](const Cookie* a, const Cookie* b) {
        if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
        return a->created < b->created;
    });
    std::vector<std::pair<std::string, std::string>> pairs;
    pairs.reserve(sent.size());
    for (const Cookie* cookie : sent) pairs.emplace_back(cookie->name, cookie->value);
    return pairs;
}

std::vector<Cookie> CookieJar::All(int64_t now) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Cookie> all;
    for (const auto& entry : byDomain_) {
        std::vector<Cookie> list;
        for (const Cookie& cookie : entry.second)
            if (!Expired(cookie, now)) list.push_back(cookie);
        std::sort(list.begin(), list.end(),
                  [](const Cookie& a, const Cookie& b) { return a.created < b.created; });
        all.insert(all.end(), list.begin(), list.end());
    }
    return all;
}

}  // namespace qm
