#include "names.h"

#include <cstring>
#include <string>
#include <string_view>

#include "ascii.h"
#include "bounded_text.h"
#include "char_set.h"

namespace qm {
namespace {

// Room for a page URL and a reference joined before the result is checked against
// URL_TEXT_SIZE, and for a local name (a URL plus ".html").
constexpr size_t kWorkAreaSize = 2 * URL_TEXT_SIZE + 16;

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
constexpr CharSet kBackslash("\\");
// Characters a file name cannot hold on Windows: each becomes '-' in a local name.
constexpr CharSet kReplacedInNames("\\:*?\"<>|");

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
    if (n < 3 || n > 7) return false;
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

constexpr char kHex[] = "0123456789ABCDEF";

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

const char* const kPageExtensions[] = {"html", "htm", "xhtml", "shtml"};
// Extensions that never name a page: such a link or frame keeps its name as it is.
const char* const kOtherExtensions[] = {
    "xml",  "svg",  "pdf",  "zip", "json", "txt",  "png",  "gif", "jpg",  "jpeg",  "ico",
    "webp", "avif", "bmp",  "tif", "tiff", "css",  "js",   "mjs", "woff", "woff2", "ttf",
    "otf",  "eot",  "mp3",  "mp4", "m4a",  "ogg",  "ogv",  "oga", "webm", "wav",   "gz",
    "tgz",  "bz2",  "xz",   "tar", "rss",  "atom", "epub", "ps",  "dvi",  "csv",   "doc",
    "docx", "xls",  "xlsx", "odt", "wasm", "map",  "md",   "rst", "py",   "c",     "h",
    "cc",   "cpp",  "sh",   "deb", "rpm",  "iso",  "7z",   "exe"};

bool IsOneOf(const char* ext, size_t n, const char* const* list, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (IsWordNoCase(ext, n, list[i])) return true;
    return false;
}

// Makes a component or flat name no longer than `limit`: its head, '-', the URL's hash and
// its extension.
bool Shorten(std::string& s, size_t limit, const char* url) {
    if (s.size() <= limit) return true;
    size_t dot = s.rfind('.');
    std::string ext = dot != std::string::npos && s.size() - dot <= 8 ? s.substr(dot) : "";
    char hash[9];
    ShortHash(url, hash);
    if (limit < ext.size() + 10) return false;
    s.resize(limit - ext.size() - 9);
    s += '-';
    s += hash;
    s += ext;
    return true;
}

// Eight bytes at `s` in lower case (ASCII letters only), to `out`.
void LowerWord(const char* s, char* out) {
    uint64_t x;
    std::memcpy(&x, s, 8);
    const uint64_t high = 0x8080808080808080ull, low7 = 0x7F7F7F7F7F7F7F7Full;
    uint64_t b = x & low7;
    uint64_t atLeastA = b + 0x3F3F3F3F3F3F3F3Full;  // 0x80 set from 'A' (0x41) on
    uint64_t aboveZ = b + 0x2525252525252525ull;    // 0x80 set from '[' (0x5B) on
    uint64_t upper = atLeastA & ~aboveZ & ~x & high;
    x |= upper >> 2;
    std::memcpy(out, &x, 8);
}

// Copies `n` bytes in lower case, eight at a time.
void LowerCopy(const char* s, size_t n, char* out) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) LowerWord(s + i, out + i);
    if (i < n && n >= 8) {
        // The last few with the eight that end there, some of them again.
        LowerWord(s + n - 8, out + n - 8);
    } else {
        for (; i < n; ++i) out[i] = Lower(s[i]);
    }
}

// What each byte of a URL becomes in a local name, before folders are made.
// `slash` is what '/' becomes.
struct NameCharacters {
    char map[256] = {};
    constexpr explicit NameCharacters(char slash) {
        for (int c = 0; c < 256; ++c) {
            char ch = static_cast<char>(c);
            map[c] = c < 0x20 || c == 0x7F || kReplacedInNames(ch) ? '-' : c == '/' ? slash : ch;
        }
    }
    // Appends the `n` bytes at `s`, with a run of '/' as one; `prev` is the byte before.
    size_t Map(const char* s, size_t n, char& prev, char* out) const {
        size_t k = 0, i = 0;
        if (prev == '/')
            while (i < n && s[i] == '/') ++i;
        for (; i < n; ++i) {
            char c = s[i];
            out[k++] = map[static_cast<unsigned char>(c)];
            if (c == '/')
                while (i + 1 < n && s[i + 1] == '/') ++i;
        }
        if (n > 0) prev = s[n - 1];
        return k;
    }
};
constexpr NameCharacters kFlatName('-'), kFolderName('\\');

// A folder or file name that AppendSafeComponent would keep as it is: it neither ends in a
// dot or blank, nor begins with a dot or '%', nor may be a device name.
bool IsOrdinaryComponent(const char* s, size_t n) {
    if (n == 0 || s[0] == '.' || s[0] == '%' || s[n - 1] == '.' || s[n - 1] == ' ') return false;
    const void* dot = std::memchr(s, '.', n);
    size_t base = dot ? static_cast<size_t>(static_cast<const char*>(dot) - s) : n;
    if (base > 0 && s[base - 1] == ' ') return false;
    if (base < 3 || base == 5 || base > 7) return true;
    // CON PRN AUX NUL, COM1 LPT1, CONIN$ CONOUT$.
    char f = Lower(s[0]);
    return !(f == 'c' || (base == 3 && (f == 'p' || f == 'a' || f == 'n')) ||
             (base == 4 && f == 'l'));
}

// The longest name the registry takes is one shorter than this.
constexpr size_t kLongestClaim = 2 * LOCAL_PATH_SIZE - 10;

// Windows, and Linux's most file systems, store no longer file names.
constexpr size_t kLongestComponent = 240;

}  // namespace

NameMode NameModeOf(PageKind kind) {
    return kind == KIND_PAGE || kind == KIND_STYLE_SHEET || kind == KIND_FRAME ? NAME_MODE_FLAT
                                                                               : NAME_MODE_FOLDERS;
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

bool IsSameSite(const char* url, const char* pageUrl) {
    BaseUrl item, page;
    if (FetchableSchemeLength(url, std::strlen(url)) == 0 || !ParseBase(url, &item) ||
        !ParseBase(pageUrl, &page))
        return false;
    // The host ends at the port's colon too: other ports of one host are the same site.
    return item.authority.substr(0, item.authority.find(':')) ==
           page.authority.substr(0, page.authority.find(':'));
}

void CollapseBackslashes(char* s) {
    char* out = s;
    for (const char* in = s; *in; ++in)
        if (!(*in == '\\' && out > s && out[-1] == '\\')) *out++ = *in;
    *out = '\0';
}

void ShortHash(const char* text, char (&hex)[9]) {
    uint32_t h = 2166136261u;
    for (const char* p = text; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
    for (int i = 7; i >= 0; --i, h >>= 4) hex[i] = kHex[h & 15];
    hex[8] = '\0';
}

NamePrefix MakeNamePrefix(const char* url, size_t length) {
    NamePrefix prefix;
    const char* authority = static_cast<const char*>(std::memchr(url, ':', length));
    if (authority == nullptr || length - static_cast<size_t>(authority - url) < 3 ||
        std::memcmp(authority, "://", 3) != 0)
        return prefix;
    authority += 3;
    const void* slash = std::memchr(authority, '/', length - static_cast<size_t>(authority - url));
    if (slash == nullptr) return prefix;
    size_t n = static_cast<size_t>(static_cast<const char*>(slash) - url) + 1;
    if (std::memchr(url, '?', n) != nullptr || std::memchr(url, '#', n) != nullptr) return prefix;
    prefix.url.assign(url, n);
    char mapped[URL_TEXT_SIZE];
    char prev = '\0';
    prefix.flat.assign(mapped, kFlatName.Map(url, n, prev, mapped));
    prev = '\0';
    prefix.folders.assign(mapped, kFolderName.Map(url, n, prev, mapped));
    // Whether its folder names are all ordinary ones.
    const std::string& f = prefix.folders;
    bool ordinary = !f.empty() && f.back() == '\\';
    for (size_t i = 0; ordinary && i < f.size();) {
        size_t end = f.find('\\', i);
        ordinary = end - i <= kLongestComponent && IsOrdinaryComponent(f.data() + i, end - i);
        i = end + 1;
    }
    prefix.foldersChecked = ordinary ? f.size() : 0;
    return prefix;
}

size_t MakeLocalName(const char* url, size_t n, PageKind kind, char* name, size_t size,
                     const NamePrefix* prefix) {
    const NameMode mode = NameModeOf(kind);
    const void* question = std::memchr(url, '?', n);
    size_t queryStart =
        question ? static_cast<size_t>(static_cast<const char*>(question) - url) : n;
    size_t segment = queryStart;
    while (segment > 0 && url[segment - 1] != '/') --segment;
    // The extension of the last path segment, when it has one of up to five letters and digits.
    size_t dot = queryStart;
    while (dot > segment && url[dot - 1] != '.') --dot;
    size_t extLength = dot > segment && dot > segment + 1 ? queryStart - dot : 0;
    if (extLength > 5) extLength = 0;
    for (size_t i = dot; i < dot + extLength; ++i)
        if (!IsAlnum(url[i])) extLength = 0;
    const char* ext = url + dot;
    bool endsInSlash = segment == queryStart;
    bool pageLike = kind == KIND_PAGE || kind == KIND_FRAME;

    // The path, with the query before a known extension or after it, and the extension
    // added, if any.
    size_t pathEnd = queryStart, queryLength = n - queryStart;
    const char* added = "";
    bool queryBeforeExtension = false;
    if (pageLike) {
        bool pageExt = extLength > 0 && IsOneOf(ext, extLength, kPageExtensions, 4);
        bool otherExt = !pageExt && extLength > 0 &&
                        IsOneOf(ext, extLength, kOtherExtensions,
                                sizeof kOtherExtensions / sizeof *kOtherExtensions);
        if (otherExt) queryBeforeExtension = true;
        else if (!pageExt || queryLength > 0) added = ".html";
    } else if (kind == KIND_STYLE_SHEET) {
        if (extLength == 3 && EqualNoCase(ext, "css", 3)) queryBeforeExtension = true;
        else added = ".css";
    } else {
        if (endsInSlash) added = kind == KIND_SCRIPT ? "index.js" : "index";
        queryBeforeExtension = extLength > 0;
    }
    const size_t addedLength = std::strlen(added);
    if (n + addedLength >= kWorkAreaSize) return 0;

    // Characters a name cannot hold become '-'; a run of '/' becomes one backslash between
    // folders, or one '-' in a flat name.
    const NameCharacters& map = mode == NAME_MODE_FOLDERS ? kFolderName : kFlatName;
    const char slash = mode == NAME_MODE_FOLDERS ? '\\' : '-';
    char raw[kWorkAreaSize];
    size_t rawLength = 0;
    char prev = '\0';
    const bool extensionLast = queryBeforeExtension && queryLength > 0 && extLength > 0;
    // The start that the page's URLs share is mapped once for them all.
    size_t from = 0, checked = 0;
    const size_t p = prefix ? prefix->url.size() : 0;
    if (p > 0 && p <= (extensionLast ? pathEnd - extLength - 1 : n) &&
        std::memcmp(url, prefix->url.data(), p) == 0) {
        const std::string& mapped = mode == NAME_MODE_FOLDERS ? prefix->folders : prefix->flat;
        std::memcpy(raw, mapped.data(), mapped.size());
        rawLength = mapped.size();
        prev = url[p - 1];
        from = p;
        if (mode == NAME_MODE_FOLDERS) checked = prefix->foldersChecked;
    }
    if (extensionLast) {
        rawLength += map.Map(url + from, pathEnd - extLength - 1 - from, prev, raw + rawLength);
        rawLength += map.Map(url + queryStart, queryLength, prev, raw + rawLength);
        rawLength += map.Map(url + pathEnd - extLength - 1, extLength + 1, prev, raw + rawLength);
    } else {
        rawLength += map.Map(url + from, n - from, prev, raw + rawLength);
        rawLength += map.Map(added, addedLength, prev, raw + rawLength);
    }
    raw[rawLength] = '\0';
    // It begins "http-" and a separator, "https-" and a separator, ...
    size_t schemeEnd = 0;
    for (const char* scheme : kFetchableSchemes) {
        size_t k = std::strlen(scheme);
        if (rawLength > k + 1 && std::memcmp(raw, scheme, k) == 0 && raw[k] == '-' &&
            raw[k + 1] == slash)
            schemeEnd = k + 1;
    }
    bool fetchable = schemeEnd > 0;
    if (!fetchable || schemeEnd >= rawLength) return 0;

    std::string made;
    if (mode == NAME_MODE_FOLDERS) {
        // Most paths have no folder or file name to change: they stand as they are.
        bool ordinary = rawLength < size;
        for (size_t i = checked; ordinary && i < rawLength;) {
            const void* slash = std::memchr(raw + i, '\\', rawLength - i);
            size_t end =
                slash ? static_cast<size_t>(static_cast<const char*>(slash) - raw) : rawLength;
            ordinary = end - i <= kLongestComponent && IsOrdinaryComponent(raw + i, end - i);
            i = end + 1;
        }
        if (ordinary) {
            std::memcpy(name, raw, rawLength + 1);
            return rawLength;
        }
        char area[kWorkAreaSize];
        BoundedText out(area);
        for (size_t i = 0; i < rawLength;) {
            size_t end = FindAny(raw, i, rawLength, kBackslash);
            if (end - i > kLongestComponent) {
                std::string component(raw + i, end - i);
                if (!Shorten(component, kLongestComponent, url)) return 0;
                AppendSafeComponent(component.data(), component.size(), out);
            } else if (IsOrdinaryComponent(raw + i, end - i)) {
                out.Append(raw + i, end - i);
            } else {
                AppendSafeComponent(raw + i, end - i, out);
            }
            if (end < rawLength) out.Append('\\');
            i = end + 1;
        }
        if (!out.ok()) return 0;
        if (out.length() < size) {
            std::memcpy(name, area, out.length() + 1);
            return out.length();
        }
        made = area;
        {
            // Too deep for the room there is: the host's folder and a short name.
            size_t hostEnd = made.find('\\', schemeEnd + 1);
            std::string last = made.substr(made.rfind('\\') + 1);
            size_t lastDot = last.rfind('.');
            char hash[9];
            ShortHash(url, hash);
            std::string shortName = hash;
            if (lastDot != std::string::npos && last.size() - lastDot <= 8)
                shortName += last.substr(lastDot);
            made = made.substr(0, hostEnd + 1) + shortName;
            if (made.size() >= size) made = made.substr(0, schemeEnd + 1) + shortName;
        }
    } else {
        if (rawLength <= std::min(kLongestComponent, size - 1)) {
            std::memcpy(name, raw, rawLength + 1);
            return rawLength;
        }
        made = raw;
        if (!Shorten(made, std::min(kLongestComponent, size - 1), url)) return 0;
    }
    if (made.size() >= size) return 0;
    std::memcpy(name, made.c_str(), made.size() + 1);
    return made.size();
}

void NameRegistry::Clear() {
    taken_.Clear();
    isFolder_.clear();
    for (std::string& folder : knownFolders_) folder.clear();
    nextKnown_ = 0;
}

// A name of up to kLongestClaim - 1 characters, and the hash that may be added to it.
static_assert(kLongestClaim + 10 <= NameRegistry::kLowerArea);

uint32_t NameRegistry::Prefetch(const char* name, size_t length, char* lower) const {
    if (length >= kLongestClaim) return 0;  // Claim refuses it
    LowerCopy(name, length + 1, lower);
    return taken_.Prefetch(std::string_view(lower, length));
}

bool NameRegistry::Claim(char* name, char* lower, size_t* length, size_t size, const char* url,
                         uint32_t hash) {
    size_t n = *length;
    if (n >= size || n >= kLongestClaim) return false;
    uint32_t nameHash = hash;
    auto find = [&](size_t length) { return taken_.Find(std::string_view(lower, length)); };
    auto isFile = [&](size_t length) {
        int32_t e = find(length);
        return e >= 0 && !isFolder_[static_cast<size_t>(e)];
    };
    auto insert = [&](size_t at, const char* text) {
        size_t k = std::strlen(text);
        if (n + k >= size) return false;
        std::memmove(name + at + k, name + at, n - at + 1);
        std::memmove(lower + at + k, lower + at, n - at + 1);
        for (size_t i = 0; i < k; ++i) {
            name[at + i] = text[i];
            lower[at + i] = Lower(text[i]);
        }
        n += k;
        return true;
    };
    // A new folder must not bear a file's name: such a folder gets a '_' added.
    const char* lastSlash = std::strrchr(lower, '\\');
    const size_t folderLength = lastSlash ? static_cast<size_t>(lastSlash - lower) : 0;
    // A page's items come from a few folders: those of the last names are known at once.
    bool parentKnown = false;
    for (size_t i = 0; folderLength > 0 && i < kKnownFolders && !parentKnown; ++i)
        parentKnown = folderLength == knownFolders_[i].size() &&
                      std::memcmp(lower, knownFolders_[i].data(), folderLength) == 0;
    if (lastSlash && !parentKnown) {
        int32_t parent = find(folderLength);
        parentKnown = parent >= 0 && isFolder_[static_cast<size_t>(parent)];
        if (parentKnown) {
            knownFolders_[nextKnown_].assign(lower, folderLength);
            nextKnown_ = (nextKnown_ + 1) % kKnownFolders;
        }
    }
    if (lastSlash != nullptr && !parentKnown) {
        for (size_t cut = 0; cut < n; ++cut) {
            if (lower[cut] != '\\') continue;
            while (isFile(cut)) {
                if (!insert(cut, "_")) return false;
                ++cut;
            }
        }
    }
    // A name taken, by a file or a folder, gets the URL's hash before its extension.
    if (taken_.Find(std::string_view(lower, n), nameHash) >= 0) {
        size_t slash = 0, dot = n;
        for (size_t i = 0; i < n; ++i) {
            if (lower[i] == '\\') slash = i + 1;
            if (lower[i] == '.') dot = i;
        }
        size_t at = dot >= slash && dot < n && n - dot <= 8 ? dot : n;
        char hash[10] = {'-'};
        char hex[9];
        ShortHash(url, hex);
        std::memcpy(hash + 1, hex, 9);
        if (!insert(at, hash)) return false;
        if (find(n) >= 0) return false;
        nameHash = TextTable::Hash(std::string_view(lower, n));
    }
    taken_.Add(std::string_view(lower, n), nameHash);
    isFolder_.push_back(false);
    *length = n;
    // Its folders, from the innermost, up to one known already.
    for (size_t cut = n; lastSlash && !parentKnown && cut-- > 0;) {
        if (lower[cut] != '\\') continue;
        if (find(cut) >= 0) break;
        taken_.Add(std::string_view(lower, cut));
        isFolder_.push_back(true);
    }
    return true;
}

size_t JoinSaveFolder(const char* saveFolder, size_t folderLength, const char* localName,
                      size_t nameLength, char* path, size_t size) {
    if (localName[0] != '\\') {
        // A local name holds no run of backslashes: only the joint may need one.
        char last = folderLength > 0 ? saveFolder[folderLength - 1] : ':';
        size_t joint = last == ':' || last == '\\' ? 0 : 1;
        if (folderLength + joint + nameLength >= size) return 0;
        std::memcpy(path, saveFolder, folderLength);
        if (joint) path[folderLength] = '\\';
        std::memcpy(path + folderLength + joint, localName, nameLength + 1);
        return folderLength + joint + nameLength;
    }
    char joined[kWorkAreaSize + LOCAL_PATH_SIZE];
    BoundedText out(joined);
    out.Append(saveFolder, folderLength);
    // A drive letter alone names that drive's current folder: no backslash after it.
    if (folderLength > 0 && saveFolder[folderLength - 1] != ':') out.Append('\\');
    out.Append(localName);
    if (!out.ok()) return 0;
    // Collapse only from the joint on: the folder's own leading "\\" of a network share stays.
    if (folderLength > 0) CollapseBackslashes(joined + folderLength - 1);
    size_t n = std::strlen(joined);
    if (n >= size) return 0;
    std::memcpy(path, joined, n + 1);
    return n;
}

}  // namespace qm
