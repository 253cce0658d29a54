#include "url.h"

#include <cstring>
#include <string>
#include <string_view>

#include "ascii.h"
#include "bounded_text.h"
#include "char_set.h"

namespace qm {
namespace {

// Room for a page URL and a reference joined before the result is checked against
// URL_TEXT_SIZE.
constexpr size_t kWorkAreaSize = 2 * URL_TEXT_SIZE + 16;

constexpr char kHex[] = "0123456789ABCDEF";

constexpr CharSet kFragment("#");
constexpr CharSet kPathOrQuery("/?");
constexpr CharSet kQuery("?");
constexpr CharSet kSlash("/");

// Appends `path` to `out` with its "." and ".." segments applied, as a browser does.
void AppendWithoutDotSegments(const char* path, size_t n, BoundedText& out) {
    const size_t pathStart = out.length();
    for (size_t i = 0; i < n;) {
        size_t start = i + 1;  // path[i] is a '/'
        size_t end = FindAny(path, start, n, kSlash);
        bool last = end == n;
        int dots = DotSegmentDots(path + start, end - start);
        if (dots == 1 || dots == 2) {
            if (dots == 2) {
                size_t cut = out.length();
                while (cut > pathStart && out.c_str()[cut - 1] != '/') --cut;
                out.Truncate(cut > pathStart ? cut - 1 : pathStart);
            }
            if (last) out.Append('/');
        } else {
            out.Append('/');
            out.Append(path + start, end - start);
        }
        i = end;
    }
    if (n > 0 && out.length() == pathStart) out.Append('/');
}


// The length of the fetchable scheme that `s` begins with, its ':' included; 0 for none.
size_t FetchableSchemeLength(const char* s, size_t n) {
    for (const char* scheme : kFetchableSchemes) {
        size_t k = std::strlen(scheme);
        if (n > k && s[k] == ':' && EqualNoCase(s, scheme, k)) return k + 1;
    }
    return 0;
}

// What follows "scheme://": authority, path and query; anything from '#' on is dropped.
void SplitAfterScheme(const char* s, size_t n, std::string_view* authority, const char** path,
                      size_t* pathLength, const char** query, size_t* queryLength) {
    n = FindAny(s, 0, n, kFragment);
    size_t pathStart = FindAny(s, 0, n, kPathOrQuery);
    size_t queryStart = FindAny(s, pathStart, n, kQuery);
    *authority = std::string_view(s, pathStart);
    *path = s + pathStart;
    *pathLength = queryStart - pathStart;
    *query = s + queryStart;
    *queryLength = n - queryStart;
}


// What resolving makes of each byte of a path, one look-up per byte.
enum PathByte : uint8_t {
    kEncoded = 1,       // %-encoded (tabs and line ends dropped), as a browser sends it
    kNotPlain = 2,      // a query, a scheme or a backslash: not for the short way
    kSegmentStart = 4,  // at the start of a segment, a "." or ".." segment may follow
};
struct PathBytes {
    uint8_t of[256] = {};
    constexpr PathBytes() {
        for (int c = 0; c < 256; ++c)
            if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`')
                of[c] = kEncoded;
        of['?'] = of[':'] = of['\\'] = kNotPlain;
        of['.'] = of['%'] = of['/'] = kSegmentStart;
    }
};
constexpr PathBytes kPathBytes;

constexpr bool NeedsEncoding(unsigned char c) { return (kPathBytes.of[c] & kEncoded) != 0; }

// Appends a path or query as a browser sends it.
void AppendEncoded(const char* s, size_t n, BoundedText& out) {
    for (size_t i = 0; i < n;) {
        size_t run = i;
        while (run < n && !NeedsEncoding(static_cast<unsigned char>(s[run]))) ++run;
        if (run > i) {
            out.Append(s + i, run - i);
            i = run;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(s[i++]);
        if (c == '\t' || c == '\n' || c == '\r') continue;
        char e[3] = {'%', kHex[c >> 4], kHex[c & 15]};
        out.Append(e, 3);
    }
}

// A path that resolving leaves as it is: nothing to encode, no query, scheme or backslash,
// no "." or ".." segment (nor one that may be, spelled with '%') and no empty segment.
bool IsPlainPath(const char* s, size_t n) {
    bool segmentStart = true;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint8_t k = kPathBytes.of[c];
        if ((k & (kEncoded | kNotPlain)) ||
            (segmentStart && (k & kSegmentStart) && (i > 0 || c != '/')))
            return false;
        segmentStart = c == '/';
    }
    return true;
}

// "http://" or "https://", a host, and a path and query that resolving leaves as they are.
bool IsPlainAbsolute(const char* s, size_t n) {
    size_t i = n > 7 && std::memcmp(s, "http://", 7) == 0    ? 7
               : n > 8 && std::memcmp(s, "https://", 8) == 0 ? 8
                                                             : 0;
    if (i == 0) return false;
    size_t hostStart = i;
    while (i < n && s[i] != '/' && s[i] != '?' && s[i] != '#') ++i;
    if (i == hostStart) return false;
    bool query = false;
    for (; i < n; ++i) {
        char c = s[i];
        if (NeedsEncoding(static_cast<unsigned char>(c)) || c == '#') return false;
        if (c == '?') query = true;
        else if (!query && s[i - 1] == '/' && (c == '.' || c == '%')) return false;
    }
    return true;
}

}  // namespace

int DotSegmentDots(const char* seg, size_t n) {
    int dots = 0;
    for (size_t i = 0; i < n;) {
        if (seg[i] == '.') {
            ++i;
        } else if (i + 3 <= n && seg[i] == '%' && seg[i + 1] == '2' && Lower(seg[i + 2]) == 'e') {
            i += 3;
        } else {
            return 0;
        }
        ++dots;
    }
    return dots;
}

ReferenceScheme SchemeOf(const char* reference, size_t length) {
    if (length == 0 || !IsAlpha(reference[0])) return ReferenceScheme::kFetchable;
    size_t i = 1;
    while (i < length) {
        char c = reference[i];
        if (!(IsAlnum(c) || c == '+' || c == '-' || c == '.')) break;
        ++i;
    }
    if (i == length || reference[i] != ':') return ReferenceScheme::kFetchable;  // relative
    return FetchableSchemeLength(reference, length) > 0 ? ReferenceScheme::kFetchable
                                                        : ReferenceScheme::kOther;
}

bool ParseBase(const char* url, BaseUrl* base) {
    *base = BaseUrl();
    size_t n = std::strlen(url);
    size_t k = FetchableSchemeLength(url, n);
    const char* rest = url;
    if (k > 0) {
        if (n < k + 2 || url[k] != '/' || url[k + 1] != '/') return false;
        for (size_t i = 0; i + 1 < k && i + 1 < sizeof base->scheme; ++i)
            base->scheme[i] = Lower(url[i]);
        rest = url + k + 2;
        n -= k + 2;
    } else {
        if (SchemeOf(url, n) == ReferenceScheme::kOther || StartsWithNoCase(url, n, "http:"))
            return false;
        std::strcpy(base->scheme, "http");
    }
    const char *path, *query;
    size_t pathLength, queryLength;
    std::string_view authority;
    SplitAfterScheme(rest, n, &authority, &path, &pathLength, &query, &queryLength);
    base->authority.assign(authority.data(), authority.size());
    base->path.assign(path, pathLength);
    base->ok = !base->authority.empty();
    size_t folder = base->path.rfind('/');
    base->root = std::string(base->scheme) + "://" + base->authority;
    base->folder = base->root + (folder == std::string::npos ? std::string("/")
                                                             : base->path.substr(0, folder + 1));
    bool plain = true;
    for (size_t i = base->root.size(); i < base->folder.size() && plain; ++i) {
        char c = base->folder[i];
        plain = !NeedsEncoding(static_cast<unsigned char>(c)) &&
                !(base->folder[i - 1] == '/' && (c == '.' || c == '%'));
    }
    // Each ".." takes the last folder off, and none goes above the root.
    const int32_t rootEnd = static_cast<int32_t>(base->root.size()) + 1;
    int32_t length = static_cast<int32_t>(base->folder.size());
    for (int32_t up = 0; plain && up < 4; ++up) {
        base->upFolders[up] = length;
        if (length > rootEnd) --length;
        while (length > rootEnd && base->folder[static_cast<size_t>(length) - 1] != '/') --length;
    }
    return base->ok;
}

size_t ResolveUrl(const BaseUrl& base, const char* reference, size_t length,
                  char (&url)[URL_TEXT_SIZE]) {
    url[0] = '\0';
    if (!base.ok || SchemeOf(reference, length) == ReferenceScheme::kOther) return 0;

    // Most references are a plain path relative to the page's folder (after a few "../"
    // perhaps) or to the site's root: no scheme, no query, no dot segments, nothing to
    // encode.
    bool rootRelative = length > 1 && reference[0] == '/' && reference[1] != '/';
    size_t up = 0;
    while (!rootRelative && up < 4 && length >= 3 * (up + 1) && reference[3 * up] == '.' &&
           reference[3 * up + 1] == '.' && reference[3 * up + 2] == '/')
        ++up;
    const char* rest = reference + 3 * up;
    size_t restLength = length - 3 * up;
    size_t prefixLength = 0;  // 0: not this way
    if (rootRelative) prefixLength = base.root.size();
    else if (up == 0) prefixLength = base.folder.size();
    else if (up < 4 && base.upFolders[up] >= 0)
        prefixLength = static_cast<size_t>(base.upFolders[up]);
    if (restLength > 0 && prefixLength > 0 && (rest[0] != '/' || rootRelative) &&
        prefixLength + restLength < URL_TEXT_SIZE && IsPlainPath(rest, restLength)) {
        std::memcpy(url, (rootRelative ? base.root : base.folder).data(), prefixLength);
        std::memcpy(url + prefixLength, rest, restLength);
        url[prefixLength + restLength] = '\0';
        return prefixLength + restLength;
    }
    // So are most absolute references: they stand as they are.
    if (length < URL_TEXT_SIZE && IsPlainAbsolute(reference, length)) {
        std::memcpy(url, reference, length);
        url[length] = '\0';
        return length;
    }

    char work[kWorkAreaSize];
    BoundedText out(work);
    size_t k = FetchableSchemeLength(reference, length);
    bool networkPath = length >= 2 && reference[0] == '/' && reference[1] == '/';
    const char *path, *query;
    size_t pathLength, queryLength;
    std::string_view authority;
    char joined[kWorkAreaSize];
    BoundedText relative(joined);
    if (k > 0 || networkPath) {
        // "//host/x" takes the page's scheme; "http:x" without a host is of no use.
        if (k > 0 && !(length >= k + 2 && reference[k] == '/' && reference[k + 1] == '/')) return 0;
        if (k > 0) {
            for (size_t i = 0; i + 1 < k; ++i) out.Append(Lower(reference[i]));
        } else {
            out.Append(base.scheme);
        }
        size_t skip = k + 2;
        SplitAfterScheme(reference + skip, length - skip, &authority, &path, &pathLength, &query,
                         &queryLength);
    } else {
        // A relative reference has no authority of its own: it is a path and a query.
        out.Append(base.scheme);
        authority = base.authority;
        size_t queryStart = FindAny(reference, 0, length, kQuery);
        query = reference + queryStart;
        queryLength = length - queryStart;
        if (length > 0 && reference[0] == '/') {
            relative.Append(reference, queryStart);
        } else if (queryStart == 0) {  // "?x": the page itself with another query
            relative.Append(base.path.data(), base.path.size());
        } else {
            size_t folder = base.path.size();
            while (folder > 0 && base.path[folder - 1] != '/') --folder;
            if (folder == 0) relative.Append('/');
            relative.Append(base.path.data(), folder);
            relative.Append(reference, queryStart);
        }
        path = relative.c_str();
        pathLength = relative.length();
    }
    if (!relative.ok() || authority.empty()) return 0;
    out.Append("://");
    out.Append(authority.data(), authority.size());
    char dotless[kWorkAreaSize];
    BoundedText cleaned(dotless);
    AppendWithoutDotSegments(path, pathLength, cleaned);
    AppendEncoded(cleaned.c_str(), cleaned.length(), out);
    AppendEncoded(query, queryLength, out);
    if (!out.ok() || !cleaned.ok() || out.length() >= URL_TEXT_SIZE) return 0;
    std::memcpy(url, work, out.length() + 1);
    return out.length();
}

bool ResolveUrl(const char* base, const char* reference, size_t length,
                char (&url)[URL_TEXT_SIZE]) {
    BaseUrl parsed;
    url[0] = '\0';
    return ParseBase(base, &parsed) && ResolveUrl(parsed, reference, length, url) > 0;
}

std::string SiteHostOf(const BaseUrl& page) {
    return page.authority.substr(0, page.authority.find(':'));
}

bool IsOnSite(const char* url, size_t n, std::string_view host) {
    const char* p = static_cast<const char*>(std::memchr(url, ':', n));
    size_t start = p ? static_cast<size_t>(p - url) + 3 : 0;
    if (start >= n) return host.empty();
    size_t end = start + host.size();
    if (end > n || std::memcmp(url + start, host.data(), host.size()) != 0) return false;
    return end == n || url[end] == '/' || url[end] == '?' || url[end] == '#' || url[end] == ':';
}

}  // namespace qm
