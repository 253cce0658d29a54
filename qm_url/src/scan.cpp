#include "scan.h"

#include <cstring>

#include "ascii.h"
#include "bounded_text.h"
#include "char_set.h"
#include "crawl.h"
#include "names.h"

namespace qm {
namespace {

// A reference of this many characters or more is never taken.
constexpr int32_t kTokenAreaSize = URL_TEXT_SIZE;
// Room for the text that replaces a reference: an encoded local name or a URL, and the
// fragment that follows it.
constexpr size_t kInsertAreaSize = 4 * URL_TEXT_SIZE;

const char* const kPictureExtensions[] = {".jpg", ".png", ".gif", ".JPG",
                                          ".PNG", ".GIF", ".ico", ".ICO"};
// What may stand right before a bare picture name.
constexpr CharSet kPictureDelimiters("=< (\"{[>'\t\r\n");
const char* const kFrameOpenings[] = {"<frame", "< frame", "<  frame",
                                      "<FRAME", "< FRAME", "<  FRAME"};
// What ends a src value, and an href value ('<' abandons an href value).
constexpr CharSet kSrcValueEnd(" \"><(){}'\t\r\n");
constexpr CharSet kHrefValueEnd(" \">'\t\r\n");
// The characters at which any test can recognise a reference.
constexpr CharSet kReferenceStarts(".iIhH<");

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool MatchesNoCase(const char* text, int32_t end, int32_t at, const char* word) {
    int32_t n = static_cast<int32_t>(std::strlen(word));
    return at + n <= end && EqualNoCase(text + at, word, static_cast<size_t>(n));
}

bool Matches(const char* text, int32_t end, int32_t at, const char* word) {
    int32_t n = static_cast<int32_t>(std::strlen(word));
    return at + n <= end && std::memcmp(text + at, word, n) == 0;
}

bool IsPictureExtensionAt(const char* text, int32_t end, int32_t at) {
    if (text[at] != '.' || at + 4 > end) return false;
    for (const char* ext : kPictureExtensions)
        if (std::memcmp(text + at, ext, 4) == 0) return true;
    return false;
}

// After the '=' of an attribute: white space, one opening quote, white space. Returns the
// index where the value starts.
int32_t SkipToValue(const char* text, int32_t end, int32_t i) {
    while (i < end && IsSpace(text[i])) ++i;
    if (i < end && (text[i] == '"' || text[i] == '\'')) ++i;
    while (i < end && IsSpace(text[i])) ++i;
    return i;
}

// The src value of the tag whose name was matched, looked for from `from`.
bool FindSourceValue(const char* text, int32_t end, int32_t from, int32_t* position,
                     int32_t* tokenStart) {
    int32_t i = from;
    while (i < end && !MatchesNoCase(text, end, i, "src")) {
        if (text[i] == '<' || text[i] == '>') return false;
        ++i;
    }
    if (i >= end) return false;
    for (i += 3; i < end && text[i] != '='; ++i)
        if (text[i] == '<' || text[i] == '>') return false;
    if (i >= end) return false;
    int32_t start = SkipToValue(text, end, i + 1);
    // An empty value, or one that names a place in the page itself, is no item.
    if (start >= end || kSrcValueEnd(text[start]) || text[start] == '#') return false;
    int32_t stop = start;
    while (stop < end && !kSrcValueEnd(text[stop])) ++stop;
    if (stop >= end) return false;
    *tokenStart = start - 1;
    *position = stop - 1;
    return true;
}

// An href value at `at`: its first and last index. Only values that start with a letter, a
// digit, '/', "./" or "../" are taken.
bool FindHrefValue(const char* text, int32_t end, int32_t at, int32_t* first, int32_t* last) {
    if (!MatchesNoCase(text, end, at, "href")) return false;
    int32_t i = at + 4;
    while (i < end && IsSpace(text[i])) ++i;
    if (i >= end || text[i] != '=') return false;
    int32_t start = SkipToValue(text, end, i + 1);
    if (start >= end) return false;
    bool relativeDots = Matches(text, end, start, "./") || Matches(text, end, start, "../");
    if (!IsAlnum(text[start]) && text[start] != '/' && !relativeDots)
        return false;
    int32_t stop = start;
    for (; stop < end && !kHrefValueEnd(text[stop]); ++stop)
        if (text[stop] == '<') return false;
    if (stop >= end) return false;
    *first = start;
    *last = stop - 1;
    return true;
}

bool EndsWithCss(const char* text, int32_t first, int32_t last) {
    return last - first + 1 >= 4 && MatchesNoCase(text, last + 1, last - 3, ".css");
}

// A local name as a relative reference: folders joined by '/', and the characters a browser
// would decode or cut the reference at encoded, so that it leads to the file on disk.
void AppendLocalReference(const char* localName, BoundedText& out) {
    for (const char* p = localName; *p; ++p) {
        switch (*p) {
            case '\\': out.Append('/'); break;
            case '%': out.Append("%25"); break;
            case '#': out.Append("%23"); break;
            case ' ': out.Append("%20"); break;
            case '?': out.Append("%3F"); break;
            case '&': out.Append("%26"); break;
            default: out.Append(*p);
        }
    }
}

// An item's address as the page wrote it: "&amp;" where the page escaped its ampersands.
void AppendAddress(const char* url, bool escapedAmpersands, BoundedText& out) {
    for (const char* p = url; *p; ++p) {
        if (*p == '&' && escapedAmpersands)
            out.Append("&amp;");
        else
            out.Append(*p);
    }
}

// A chain of records built during one scan, in the order they were found.
struct Group {
    int32_t head = NO_RECORD;
    int32_t tail = NO_RECORD;

    void Append(int32_t index) {
        PageRecord& r = g_pageTable[index];
        r.prev = tail;
        r.next = NO_RECORD;
        if (tail != NO_RECORD)
            g_pageTable[tail].next = index;
        else
            head = index;
        tail = index;
    }
    // Takes the last record out again and gives it back to the pool.
    void DropTail() {
        int32_t index = tail;
        int32_t prev = g_pageTable[index].prev;
        ReleasePageRecord(index);
        if (index == head) {
            head = tail = NO_RECORD;
        } else {
            g_pageTable[prev].next = NO_RECORD;
            tail = prev;
        }
    }
};

// A reference in the text being scanned. It usually lies wholly in the input not yet
// copied; a bare picture name may reach back into text already written (`outStart`).
struct Reference {
    int32_t outStart = -1;  // index in the output where it begins, or -1
    int32_t inStart = 0;    // first index in the input (the copy point when outStart >= 0)
    int32_t inLast = 0;     // last index in the input
};

// What became of one reference.
enum class Handled { kPassedOver, kRewritten, kOutOfRecords };

// One scan: reads the input once and writes the rewritten text to the output.
class PageScanner {
public:
    PageScanner(const char* in, int32_t inLength, char* out, int32_t outCapacity,
                const SaveOptions& options)
        : in_(in), end_(inLength), out_(out), capacity_(outCapacity), options_(options),
          page_(g_pageTable[g_currentIndex]) {}

    bool Run();
    int32_t outLength() const { return outLength_; }

private:
    bool FindReference(int32_t at, bool barePicture, Reference* ref, PageKind* kind) const;
    bool FindBarePicture(int32_t at, Reference* ref) const;
    Handled AddItem(const Reference& ref, PageKind kind, Group& group);
    // Whether the crawl will fetch the item of a new record, by this scan's options.
    bool WillBeSaved(const PageRecord& record) const;
    bool Replace(const Reference& ref, const char* text, size_t length);
    void CopyRest();

    const char* in_;
    int32_t end_;
    char* out_;
    int32_t outLength_ = 0;
    int32_t capacity_;
    int32_t copied_ = 0;  // the input before this index has been written to the output
    const SaveOptions& options_;
    const PageRecord& page_;
    Group embedded_;
    Group links_;
};

bool PageScanner::Run() {
    int32_t position = 0;
    bool retest = false;  // right after a rewritten embedded item: no picture name test
    bool complete = true;
    while (position < end_) {
        Reference ref;
        PageKind kind;
        bool found = kReferenceStarts(in_[position]) && FindReference(position, !retest, &ref, &kind);
        retest = false;
        if (!found) {
            ++position;
            continue;
        }
        Handled handled = AddItem(ref, kind, kind == KIND_PAGE ? links_ : embedded_);
        if (handled == Handled::kOutOfRecords) {
            complete = false;
            break;
        }
        if (handled == Handled::kPassedOver) {
            position = ref.inLast + 1;
        } else if (kind == KIND_PAGE) {
            position = ref.inLast + 2;
        } else {
            position = ref.inLast + 1;
            retest = true;
        }
    }
    CopyRest();
    SpliceFoundItems(embedded_.head, embedded_.tail, links_.head, links_.tail);
    return complete;
}

// The reference that the text at `at` begins, and the kind of item it names. The tests go
// in this order; the bare picture name is tried only when `barePicture` says so.
bool PageScanner::FindReference(int32_t at, bool barePicture, Reference* ref,
                                PageKind* kind) const {
    if (barePicture && FindBarePicture(at, ref)) {
        *kind = KIND_PICTURE;
        return true;
    }
    // The source finders leave both unchanged when they find nothing.
    int32_t last = at, beforeValue = 0, first = 0;
    if (FindImageSource(in_, end_, &last, &beforeValue)) {
        *kind = KIND_PICTURE;
    } else if (FindFrameSource(in_, end_, &last, &beforeValue)) {
        *kind = KIND_FRAME;
    } else if (FindHrefValue(in_, end_, at, &first, &last)) {
        beforeValue = first - 1;
        *kind = EndsWithCss(in_, first, last) ? KIND_STYLE_SHEET : KIND_PAGE;
    } else {
        return false;
    }
    ref->inStart = beforeValue + 1;
    ref->inLast = last;
    return true;
}

// A picture extension at `at`, and the nearest delimiter before it. The search looks back
// no further than the longest reference that is taken, so the scan stays linear.
bool PageScanner::FindBarePicture(int32_t at, Reference* ref) const {
    if (!IsPictureExtensionAt(in_, end_, at)) return false;
    const int32_t lastIndex = at + 3;
    for (int32_t i = at - 1; i >= copied_ && lastIndex - i <= kTokenAreaSize; --i) {
        if (kPictureDelimiters(in_[i])) {
            ref->inStart = i + 1;
            ref->inLast = lastIndex;
            return true;
        }
    }
    // Back into what has been written already.
    int32_t reach = lastIndex - copied_ + 1;
    for (int32_t o = outLength_ - 1; o >= 0 && reach + (outLength_ - o) <= kTokenAreaSize; --o) {
        if (kPictureDelimiters(out_[o])) {
            if (o + 1 < outLength_) ref->outStart = o + 1;
            ref->inStart = copied_;
            ref->inLast = lastIndex;
            return true;
        }
    }
    return false;
}

Handled PageScanner::AddItem(const Reference& ref, PageKind kind, Group& group) {
    // The reference as written.
    char token[kTokenAreaSize];
    int32_t outPart = ref.outStart >= 0 ? outLength_ - ref.outStart : 0;
    int32_t length = outPart + (ref.inLast - ref.inStart + 1);
    if (length >= kTokenAreaSize) return Handled::kPassedOver;
    std::memcpy(token, out_ + (ref.outStart >= 0 ? ref.outStart : 0), outPart);
    std::memcpy(token + outPart, in_ + ref.inStart, length - outPart);
    token[length] = '\0';

    // The fragment names a place inside the item: it stays behind the new reference. Of
    // the rest, "&amp;" is how an HTML text writes '&'.
    const char* hash = std::strchr(token, '#');
    int32_t urlLength = hash ? static_cast<int32_t>(hash - token) : length;
    char address[kTokenAreaSize];
    bool escapedAmpersands = false;
    int32_t n = 0;
    for (int32_t i = 0; i < urlLength; ++i) {
        address[n++] = token[i];
        if (token[i] == '&' && std::strncmp(token + i, "&amp;", 5) == 0) {
            i += 4;
            escapedAmpersands = true;
        }
    }
    address[n] = '\0';
    if (n == 0 || SchemeOf(address, n) != ReferenceScheme::kHttp) return Handled::kPassedOver;

    int32_t index = AllocatePageRecord();
    if (index == NO_RECORD) return Handled::kOutOfRecords;
    group.Append(index);
    PageRecord& record = g_pageTable[index];
    record.kind = kind;
    record.depth = page_.depth;
    if (kind == KIND_PAGE && record.depth < 255) ++record.depth;
    std::memcpy(record.referer, page_.url, sizeof record.referer);
    record.referer[sizeof record.referer - 1] = '\0';
    int32_t mode = kind == KIND_PICTURE ? NAME_MODE_FOLDERS : NAME_MODE_FLAT;
    if (!MakeItemNames(address, index, mode)) {
        group.DropTail();
        return Handled::kPassedOver;
    }

    // Saved items are referred to by their local name; the others keep leading where they
    // led online, by their full address.
    bool saved = WillBeSaved(record);
    char path[LOCAL_PATH_SIZE];
    bool placed = JoinSaveFolder(g_saveFolder, record.localPath, path, sizeof path);

    char insertArea[kInsertAreaSize];
    BoundedText insert(insertArea);
    if (saved && placed)
        AppendLocalReference(record.localPath, insert);
    else
        AppendAddress(record.url, escapedAmpersands, insert);
    if (hash) insert.Append(hash);

    if (!insert.ok() || !Replace(ref, insert.c_str(), insert.length())) {
        group.DropTail();
        return Handled::kPassedOver;
    }
    if (saved && !placed) {
        // No path for it fits: it cannot be saved, and the text names it by its address.
        group.DropTail();
    } else if (placed && (saved || kind != KIND_PAGE)) {
        // A link that is not followed keeps its local name alone; it is never fetched.
        std::memcpy(record.localPath, path, sizeof path);
    }
    return Handled::kRewritten;
}

bool PageScanner::WillBeSaved(const PageRecord& record) const {
    switch (record.kind) {
        case KIND_PAGE:
            return !(options_.sameSiteOnly == 1 && record.sameSite == 0) &&
                   static_cast<int32_t>(record.depth) <= options_.maxDepth;
        case KIND_PICTURE:
            return options_.savePictures != 0;
        default:
            return true;
    }
}

// Puts `text` where the reference stood. False, with nothing changed, when the page would
// no longer fit in its buffer.
bool PageScanner::Replace(const Reference& ref, const char* text, size_t length) {
    int64_t kept = ref.outStart >= 0 ? ref.outStart : outLength_ + (ref.inStart - copied_);
    int64_t rest = end_ - (ref.inLast + 1);
    if (kept + static_cast<int64_t>(length) + rest > capacity_) return false;
    if (ref.outStart >= 0) {
        outLength_ = ref.outStart;
    } else {
        std::memcpy(out_ + outLength_, in_ + copied_, ref.inStart - copied_);
        outLength_ += ref.inStart - copied_;
    }
    std::memcpy(out_ + outLength_, text, length);
    outLength_ += static_cast<int32_t>(length);
    copied_ = ref.inLast + 1;
    return true;
}

void PageScanner::CopyRest() {
    std::memcpy(out_ + outLength_, in_ + copied_, end_ - copied_);
    outLength_ += end_ - copied_;
    copied_ = end_;
}

}  // namespace

int32_t ScanAndRewritePage(char* text, int32_t* length, const SaveOptions* options,
                           char* scratch) {
    PageScanner scanner(text, *length, scratch, FETCH_BUFFER_SIZE, *options);
    bool complete = scanner.Run();
    std::memcpy(text, scratch, scanner.outLength());
    *length = scanner.outLength();
    return complete ? 1 : 0;
}

bool FindImageSource(const char* text, int32_t end, int32_t* position, int32_t* tokenStart) {
    if (!MatchesNoCase(text, end, *position, "img")) return false;
    return FindSourceValue(text, end, *position, position, tokenStart);
}

bool FindFrameSource(const char* text, int32_t end, int32_t* position, int32_t* tokenStart) {
    if (text[*position] != '<') return false;
    for (const char* opening : kFrameOpenings)
        if (Matches(text, end, *position, opening))
            return FindSourceValue(text, end, *position + 1, position, tokenStart);
    return false;
}

}  // namespace qm
