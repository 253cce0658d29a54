#include "names.h"

#include <cstring>

#include "ascii.h"
#include "bounded_text.h"
#include "char_set.h"
#include "crawl.h"

namespace qm {
namespace {

// Room for a page URL and a reference joined before the result is checked against
// URL_TEXT_SIZE, and for a local name (a URL plus ".html").
constexpr size_t kWorkAreaSize = 2 * URL_TEXT_SIZE + 16;

const char kHttpPrefix[] = "http://";
const char kHttpsPrefix[] = "https://";

// The length of the "http://" or "https://" (in any case) that `s` begins with, or 0.
size_t WebPrefixLength(const char* s, size_t n) {
    if (StartsWithNoCase(s, n, kHttpsPrefix)) return 8;
    return StartsWithNoCase(s, n, kHttpPrefix) ? 7 : 0;
}

size_t FindAny(const char* s, size_t from, size_t n, const CharSet& set) {
    for (size_t i = from; i < n; ++i)
        if (set(s[i])) return i;
    return n;
}

constexpr CharSet kFragment("#");
constexpr CharSet kPathOrQuery("/?");
constexpr CharSet kQuery("?");
constexpr CharSet kSlash("/");
constexpr CharSet kDot(".");
constexpr CharSet kColon(":");
constexpr CharSet kBackslash("\\");
// Characters a file name cannot hold on Windows: each becomes '-' in a local name.
constexpr CharSet kReplacedInNames("\\:*?\"<>|");

// The parts of an http URL that resolution works on.
struct UrlParts {
    const char* authority = nullptr;
    size_t authorityLength = 0;
    const char* path = nullptr;  // begins with '/' unless empty
    size_t pathLength = 0;
    const char* query = nullptr;  // begins with '?' unless empty
    size_t queryLength = 0;
};

// Splits what follows "http://" (or a scheme-less URL, which the fetch reads as host and
// path all the same). Anything from '#' on is not part of the URL.
UrlParts SplitAfterScheme(const char* s, size_t n) {
    UrlParts parts;
    n = FindAny(s, 0, n, kFragment);
    size_t pathStart = FindAny(s, 0, n, kPathOrQuery);
    size_t queryStart = FindAny(s, pathStart, n, kQuery);
    parts.authority = s;
    parts.authorityLength = pathStart;
    parts.path = s + pathStart;
    parts.pathLength = queryStart - pathStart;
    parts.query = s + queryStart;
    parts.queryLength = n - queryStart;
    return parts;
}

// The page URL as a base: "http://" or "https://" in any case, or none at all (plain http).
// *secure tells which.
bool SplitBase(const char* base, UrlParts* parts, bool* secure) {
    size_t n = std::strlen(base);
    size_t prefix = WebPrefixLength(base, n);
    *secure = prefix == 8;
    if (prefix > 0) {
        *parts = SplitAfterScheme(base + prefix, n - prefix);
    } else {
        if (SchemeOf(base, n) == ReferenceScheme::kOther || StartsWithNoCase(base, n, "http:") ||
            StartsWithNoCase(base, n, "https:"))
            return false;
        *parts = SplitAfterScheme(base, n);
    }
    return parts->authorityLength > 0;
}

// "." and "..", also spelled with "%2e", as path segments.
int DotCount(const char* seg, size_t n) {
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

// Appends `path` to `out` with its "." and ".." segments applied, as a browser does.
void AppendWithoutDotSegments(const char* path, size_t n, BoundedText& out) {
    const size_t pathStart = out.length();
    for (size_t i = 0; i < n;) {
        size_t start = i + 1;  // path[i] is a '/'
        size_t end = FindAny(path, start, n, kSlash);
        bool last = end == n;
        int dots = DotCount(path + start, end - start);
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

const char* const kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

// Names Windows takes for a device, with or without an extension.
bool IsDeviceName(const char* base, size_t n) {
    for (const char* device : kDeviceNames)
        if (IsWordNoCase(base, n, device)) return true;
    if (n == 4 && (EqualNoCase(base, "COM", 3) || EqualNoCase(base, "LPT", 3))) {
        unsigned char d = static_cast<unsigned char>(base[3]);
        // Digits, and the superscript one, two and three of the Windows code pages.
        return IsDigit(base[3]) || d == 0xB9 || d == 0xB2 || d == 0xB3;
    }
    return false;
}

// Appends one folder or file name of a picture's path, made safe to store: a name of dots
// alone (a way out of the save folder), trailing dots and spaces (which Windows drops) and
// device names are changed so that each stands for an ordinary name.
void AppendSafeComponent(const char* comp, size_t n, BoundedText& out) {
    if (int dots = DotCount(comp, n); dots > 0) {
        for (int i = 0; i < dots; ++i) out.Append('-');
        return;
    }
    size_t keep = n;
    while (keep > 0 && (comp[keep - 1] == '.' || comp[keep - 1] == ' ')) --keep;
    size_t base = FindAny(comp, 0, keep, kDot);
    size_t baseEnd = base;
    while (baseEnd > 0 && comp[baseEnd - 1] == ' ') --baseEnd;
    out.Append(comp, base);
    if (IsDeviceName(comp, baseEnd)) out.Append('-');
    out.Append(comp + base, keep - base);
    for (size_t i = keep; i < n; ++i) out.Append('-');
}

bool EndsWith(const char* s, size_t n, const char* suffix) {
    size_t k = std::strlen(suffix);
    return n >= k && std::memcmp(s + n - k, suffix, k) == 0;
}

}  // namespace

ReferenceScheme SchemeOf(const char* reference, size_t length) {
    if (length == 0 || !IsAlpha(reference[0])) return ReferenceScheme::kHttp;
    size_t i = 1;
    while (i < length) {
        char c = reference[i];
        if (!(IsAlnum(c) || c == '+' || c == '-' || c == '.')) break;
        ++i;
    }
    if (i == length || reference[i] != ':') return ReferenceScheme::kHttp;  // relative
    if (i == 4 && EqualNoCase(reference, "http", 4)) return ReferenceScheme::kHttp;
    if (i == 5 && EqualNoCase(reference, "https", 5)) return ReferenceScheme::kHttp;
    return ReferenceScheme::kOther;
}

bool ResolveUrl(const char* base, const char* reference, size_t length,
                char (&url)[URL_TEXT_SIZE]) {
    url[0] = '\0';
    if (SchemeOf(reference, length) == ReferenceScheme::kOther) return false;

    UrlParts page;
    bool secure = false;
    if (!SplitBase(base, &page, &secure)) return false;

    // The target's path before its dot segments are applied: the reference's own, or the
    // page's folder followed by the reference.
    char joined[kWorkAreaSize];
    BoundedText path(joined);
    UrlParts target;
    bool hasScheme = StartsWithNoCase(reference, length, "http:") ||
                     StartsWithNoCase(reference, length, "https:");
    bool networkPath = length >= 2 && reference[0] == '/' && reference[1] == '/';
    if (hasScheme || networkPath) {
        // "//host/x" takes the page's scheme; "http:x" without a host is of no use.
        size_t prefix = WebPrefixLength(reference, length);
        if (hasScheme && prefix == 0) return false;
        if (hasScheme) secure = prefix == 8;
        size_t skip = hasScheme ? prefix : 2;
        target = SplitAfterScheme(reference + skip, length - skip);
        path.Append(target.path, target.pathLength);
    } else {
        // A relative reference has no authority of its own: it is a path and a query.
        target.authority = page.authority;
        target.authorityLength = page.authorityLength;
        size_t queryStart = FindAny(reference, 0, length, kQuery);
        target.query = reference + queryStart;
        target.queryLength = length - queryStart;
        if (length > 0 && reference[0] == '/') {
            path.Append(reference, queryStart);
        } else if (queryStart == 0) {  // "?x": the page itself with another query
            path.Append(page.path, page.pathLength);
        } else {
            size_t folder = page.pathLength;
            while (folder > 0 && page.path[folder - 1] != '/') --folder;
            if (folder == 0) path.Append('/');
            path.Append(page.path, folder);
            path.Append(reference, queryStart);
        }
    }
    if (!path.ok() || target.authorityLength == 0) return false;

    char built[kWorkAreaSize];
    BoundedText out(built);
    out.Append(secure ? kHttpsPrefix : kHttpPrefix);
    out.Append(target.authority, target.authorityLength);
    AppendWithoutDotSegments(path.c_str(), path.length(), out);
    out.Append(target.query, target.queryLength);
    if (!out.ok() || out.length() >= URL_TEXT_SIZE) return false;
    std::memcpy(url, built, out.length() + 1);
    return true;
}

bool IsSameSite(const char* url, const char* pageUrl) {
    UrlParts item, page;
    size_t n = std::strlen(url);
    size_t prefix = WebPrefixLength(url, n);
    bool pageSecure = false;
    if (prefix == 0 || !SplitBase(pageUrl, &page, &pageSecure) || (prefix == 8) != pageSecure)
        return false;
    item = SplitAfterScheme(url + prefix, n - prefix);
    // The host ends at the port's colon too: other ports of one host are the same site.
    size_t a = FindAny(item.authority, 0, item.authorityLength, kColon);
    size_t b = FindAny(page.authority, 0, page.authorityLength, kColon);
    return a == b && std::memcmp(item.authority, page.authority, a) == 0;
}

void CollapseBackslashes(char* s) {
    char* out = s;
    for (const char* in = s; *in; ++in)
        if (!(*in == '\\' && out > s && out[-1] == '\\')) *out++ = *in;
    *out = '\0';
}

bool MakeLocalName(const char* url, NameMode mode, char* name, size_t size) {
    char raw[kWorkAreaSize];
    BoundedText text(raw);
    for (const char* p = url; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F || kReplacedInNames(static_cast<char>(c)))
            text.Append('-');
        else
            text.Append(c == '/' ? '\\' : static_cast<char>(c));
    }
    if (!text.ok()) return false;
    CollapseBackslashes(raw);

    char made[kWorkAreaSize];
    BoundedText out(made);
    size_t n = std::strlen(raw);
    if (mode == NAME_MODE_FOLDERS) {
        for (size_t i = 0; i < n;) {
            size_t end = FindAny(raw, i, n, kBackslash);
            AppendSafeComponent(raw + i, end - i, out);
            if (end < n) out.Append('\\');
            i = end + 1;
        }
    } else {
        for (size_t i = 0; i < n; ++i) out.Append(raw[i] == '\\' ? '-' : raw[i]);
        if (!EndsWith(raw, n, ".html") && !EndsWith(raw, n, ".htm") && !EndsWith(raw, n, ".css"))
            out.Append(".html");
    }
    if (!out.ok() || out.length() >= size ||
        (std::strncmp(made, "http-", 5) != 0 && std::strncmp(made, "https-", 6) != 0))
        return false;
    std::memcpy(name, made, out.length() + 1);
    return true;
}

bool MakeItemNames(const char* token, int32_t recordIndex, int32_t mode) {
    PageRecord& record = g_pageTable[recordIndex];
    std::memset(record.url, 0, sizeof record.url);
    std::memset(record.localPath, 0, sizeof record.localPath);
    size_t length = std::strlen(token);
    if (length >= URL_TEXT_SIZE) return false;

    const char* pageUrl = g_pageTable[g_currentIndex].url;
    if (!ResolveUrl(pageUrl, token, length, record.url)) return false;
    record.sameSite = IsSameSite(record.url, pageUrl) ? 1 : 0;
    return MakeLocalName(record.url, static_cast<NameMode>(mode), record.localPath,
                         sizeof record.localPath);
}

bool JoinSaveFolder(const char* saveFolder, const char* localName, char* path, size_t size) {
    char joined[kWorkAreaSize + LOCAL_PATH_SIZE];
    BoundedText out(joined);
    size_t folderLength = std::strlen(saveFolder);
    out.Append(saveFolder, folderLength);
    // A drive letter alone names that drive's current folder: no backslash after it.
    if (folderLength > 0 && saveFolder[folderLength - 1] != ':') out.Append('\\');
    out.Append(localName);
    if (!out.ok()) return false;
    // Collapse only from the joint on: the folder's own leading "\\" of a network share stays.
    if (folderLength > 0) CollapseBackslashes(joined + folderLength - 1);
    size_t n = std::strlen(joined);
    if (n >= size) return false;
    std::memcpy(path, joined, n + 1);
    return true;
}

}  // namespace qm
