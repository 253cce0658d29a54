#include "names.h"

#include <cstring>
#include <string>
#include <string_view>

#include "ascii.h"
#include "bounded_text.h"
#include "char_set.h"
#include "url.h"

namespace qm {
namespace {

// Room for a local name: a URL, a few characters added, and a hash.
constexpr size_t kWorkAreaSize = 2 * URL_TEXT_SIZE + 16;

constexpr CharSet kDot(".");
constexpr CharSet kBackslash("\\");
// Characters a file name cannot hold on Windows: each becomes '-' in a local name.
constexpr CharSet kReplacedInNames("\\:*?\"<>|");

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
    if (int dots = DotSegmentDots(comp, n); dots > 0) {
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

constexpr char kHex[] = "0123456789ABCDEF";

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

NameMode NameModeOf(PageKind kind, NameLayout layout) {
    const bool text = kind == KIND_PAGE || kind == KIND_STYLE_SHEET || kind == KIND_FRAME;
    return text && layout == NameLayout::kFlat ? NAME_MODE_FLAT : NAME_MODE_FOLDERS;
}

void RelativeName(std::string_view from, std::string_view to, std::string* out) {
    // The folders both names begin with, compared as they are spelt: a folder spelt in
    // another case is another folder where case counts, and the same where it does not,
    // and the climb and descent lead to it either way.
    size_t common = 0;
    for (size_t i = 0; i < from.size() && i < to.size() && from[i] == to[i]; ++i)
        if (from[i] == '\\') common = i + 1;
    out->clear();
    for (size_t i = common; i < from.size(); ++i)
        if (from[i] == '\\') out->append("..\\");
    out->append(to.substr(common));
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

namespace {

// What the end of a URL's path means for its name: where the query starts, the extension
// of the last segment (one of up to five letters and digits), and what the name adds.
struct NameShape {
    size_t queryStart = 0;
    size_t extLength = 0;  // 0: no extension
    const char* added = "";
    const char* stem = "";  // what goes before the query, when the name ends a folder
    // A known extension, when a query is there, stays at the end of the name.
    bool queryBeforeExtension = false;
};

NameShape ShapeOf(const char* url, size_t n, PageKind kind, NameLayout layout) {
    NameShape shape;
    const void* question = std::memchr(url, '?', n);
    shape.queryStart = question ? static_cast<size_t>(static_cast<const char*>(question) - url) : n;
    size_t segment = shape.queryStart;
    while (segment > 0 && url[segment - 1] != '/') --segment;
    size_t dot = shape.queryStart;
    while (dot > segment && url[dot - 1] != '.') --dot;
    size_t extLength = dot > segment && dot > segment + 1 ? shape.queryStart - dot : 0;
    if (extLength > 5) extLength = 0;
    for (size_t i = dot; i < dot + extLength; ++i)
        if (!IsAlnum(url[i])) extLength = 0;
    shape.extLength = extLength;
    const char* ext = url + dot;
    const bool endsInSlash = segment == shape.queryStart;
    const size_t queryLength = n - shape.queryStart;

    // In the site's tree a folder's own page, style sheet or script is its index file, as
    // a server names it; flat, the folder's name is the name.
    if (endsInSlash && layout == NameLayout::kSiteTree) {
        shape.stem = "index";
        shape.added = kind == KIND_PAGE || kind == KIND_FRAME ? ".html"
                      : kind == KIND_STYLE_SHEET              ? ".css"
                      : kind == KIND_SCRIPT                   ? ".js"
                                                              : "";
        return shape;
    }
    if (kind == KIND_PAGE || kind == KIND_FRAME) {
        bool pageExt = extLength > 0 && IsOneOf(ext, extLength, kPageExtensions, 4);
        bool otherExt = !pageExt && extLength > 0 &&
                        IsOneOf(ext, extLength, kOtherExtensions,
                                sizeof kOtherExtensions / sizeof *kOtherExtensions);
        if (otherExt) shape.queryBeforeExtension = true;
        else if (!pageExt || queryLength > 0) shape.added = ".html";
    } else if (kind == KIND_STYLE_SHEET) {
        if (extLength == 3 && EqualNoCase(ext, "css", 3)) shape.queryBeforeExtension = true;
        else shape.added = ".css";
    } else {
        if (endsInSlash) shape.added = kind == KIND_SCRIPT ? "index.js" : "index";
        shape.queryBeforeExtension = extLength > 0;
    }
    return shape;
}

// The URL mapped to a name in `raw` (kWorkAreaSize bytes): characters a name cannot hold
// become '-', a run of '/' one backslash between folders or one '-' in a flat name, the
// query goes where `shape` puts it. *schemeEnd receives the length of its scheme and '-'.
// Returns its length; 0 when it is no name of a fetchable URL.
size_t MapName(const char* url, size_t n, const NameShape& shape, NameMode mode, char* raw,
               size_t* schemeEnd) {
    const size_t addedLength = std::strlen(shape.added), stemLength = std::strlen(shape.stem);
    if (n + stemLength + addedLength >= kWorkAreaSize) return 0;
    const NameCharacters& map = mode == NAME_MODE_FOLDERS ? kFolderName : kFlatName;
    const size_t queryStart = shape.queryStart, extLength = shape.extLength;
    const bool extensionLast = shape.queryBeforeExtension && n > queryStart && extLength > 0;
    size_t rawLength = 0;
    char prev = '\0';
    if (extensionLast) {
        rawLength += map.Map(url, queryStart - extLength - 1, prev, raw + rawLength);
        rawLength += map.Map(url + queryStart, n - queryStart, prev, raw + rawLength);
        rawLength += map.Map(url + queryStart - extLength - 1, extLength + 1, prev, raw + rawLength);
    } else if (stemLength > 0) {
        rawLength += map.Map(url, queryStart, prev, raw + rawLength);
        rawLength += map.Map(shape.stem, stemLength, prev, raw + rawLength);
        rawLength += map.Map(url + queryStart, n - queryStart, prev, raw + rawLength);
        rawLength += map.Map(shape.added, addedLength, prev, raw + rawLength);
    } else {
        rawLength += map.Map(url, n, prev, raw + rawLength);
        rawLength += map.Map(shape.added, addedLength, prev, raw + rawLength);
    }
    raw[rawLength] = '\0';
    // It begins "http-" and a separator, "https-" and a separator, ...
    const char slash = mode == NAME_MODE_FOLDERS ? '\\' : '-';
    *schemeEnd = 0;
    for (const char* scheme : kFetchableSchemes) {
        size_t k = std::strlen(scheme);
        if (rawLength > k + 1 && std::memcmp(raw, scheme, k) == 0 && raw[k] == '-' &&
            raw[k + 1] == slash)
            *schemeEnd = k + 1;
    }
    return *schemeEnd > 0 && *schemeEnd < rawLength ? rawLength : 0;
}

size_t Give(const std::string& made, char* name, size_t size) {
    if (made.size() >= size) return 0;
    std::memcpy(name, made.c_str(), made.size() + 1);
    return made.size();
}

// A name of folders: each folder and file name made safe to store and no longer than a
// file system takes, and the whole shortened to the host's folder and a hash where it is
// too deep for `size`.
size_t FolderName(const char* raw, size_t rawLength, size_t schemeEnd, const char* url,
                  char* name, size_t size) {
    // Most paths have no folder or file name to change: they stand as they are.
    bool ordinary = rawLength < size;
    for (size_t i = 0; ordinary && i < rawLength;) {
        const void* slash = std::memchr(raw + i, '\\', rawLength - i);
        size_t end = slash ? static_cast<size_t>(static_cast<const char*>(slash) - raw) : rawLength;
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
    // Too deep for the room there is: the host's folder and a short name.
    std::string made = area;
    size_t hostEnd = made.find('\\', schemeEnd + 1);
    std::string last = made.substr(made.rfind('\\') + 1);
    size_t lastDot = last.rfind('.');
    char hash[9];
    ShortHash(url, hash);
    std::string shortName = hash;
    if (lastDot != std::string::npos && last.size() - lastDot <= 8) shortName += last.substr(lastDot);
    made = made.substr(0, hostEnd + 1) + shortName;
    if (made.size() >= size) made = made.substr(0, schemeEnd + 1) + shortName;
    return Give(made, name, size);
}

// A flat name, shortened with a hash where it is too long for a file name or for `size`.
size_t FlatName(const char* raw, size_t rawLength, const char* url, char* name, size_t size) {
    const size_t limit = std::min(kLongestComponent, size - 1);
    if (rawLength <= limit) {
        std::memcpy(name, raw, rawLength + 1);
        return rawLength;
    }
    std::string made = raw;
    if (!Shorten(made, limit, url)) return 0;
    return Give(made, name, size);
}

}  // namespace

size_t MakeLocalName(const char* url, size_t n, PageKind kind, NameLayout layout, char* name,
                     size_t size) {
    const NameMode mode = NameModeOf(kind, layout);
    const NameShape shape = ShapeOf(url, n, kind, layout);
    char raw[kWorkAreaSize];
    size_t schemeEnd;
    const size_t rawLength = MapName(url, n, shape, mode, raw, &schemeEnd);
    if (rawLength == 0) return 0;
    return mode == NAME_MODE_FOLDERS ? FolderName(raw, rawLength, schemeEnd, url, name, size)
                                     : FlatName(raw, rawLength, url, name, size);
}

void NameRegistry::Clear() {
    taken_.Clear();
    isFolder_.clear();
}

bool NameRegistry::Claim(char* name, size_t* length, size_t size, const char* url) {
    size_t n = *length;
    if (n >= size || n >= kLongestClaim) return false;
    // The name in lower case, with room for the hash that may be added to it.
    char lower[kLongestClaim + 10];
    LowerCopy(name, n + 1, lower);
    uint32_t nameHash = TextTable::Hash(std::string_view(lower, n));
    auto find = [&](size_t length) { return taken_.Find(std::string_view(lower, length)); };
    auto isFile = [&](size_t length) {
        int32_t e = find(length);
        return e >= 0 && !isFolder_[static_cast<size_t>(e)];
    };
    auto insert = [&](size_t at, const char* text) {
        size_t k = std::strlen(text);
        if (n + k >= size || n + k >= sizeof lower) return false;
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
    bool parentKnown = false;
    if (lastSlash) {
        int32_t parent = find(folderLength);
        parentKnown = parent >= 0 && isFolder_[static_cast<size_t>(parent)];
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
