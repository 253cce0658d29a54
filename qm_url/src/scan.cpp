#include "scan.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "char_set.h"
#include "found_items.h"
#include "names.h"
#include "url.h"

namespace qm {
namespace {

// Room for the text that replaces a reference: an encoded local name or a URL with its
// escapes, and the fragment that follows it.
constexpr size_t kInsertAreaSize = 8 * URL_TEXT_SIZE;
constexpr char kHex[] = "0123456789ABCDEF";

// Printable characters that no value, in any place, writes otherwise.
constexpr CharSet kPlainInValues(
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~/:;=+!$*@[]{}^|`<");

// What WriteValue copies as it is: each such character, the rest '\0'.
struct PlainCharacters {
    char to[256] = {};
    constexpr explicit PlainCharacters(bool localName) {
        for (int c = 1; c < 256; ++c)
            if (kPlainInValues(static_cast<char>(c))) to[c] = static_cast<char>(c);
        if (localName) to['\\'] = '/';
    }
};
constexpr PlainCharacters kPlainInAddresses(false), kPlainInLocalNames(true);

template <class Text>
void AppendPercent(unsigned char c, Text& out) {
    char e[3] = {'%', kHex[c >> 4], kHex[c & 15]};
    out.Append(e, 3);
}

// Text written straight into the page's output, at most `room` bytes, and refused whole
// like BoundedText's once a write would not fit. Byte by byte: what it copies was mostly
// written a moment before, and wide reads of it would wait for those writes to land.
class OutputText {
public:
    OutputText(char* at, size_t room) : at_(at), room_(room) {}
    void Append(const char* text, size_t length) {
        if (!ok_ || length > room_ - length_) {
            ok_ = false;
            return;
        }
        for (size_t i = 0; i < length; ++i) at_[length_ + i] = text[i];
        length_ += length;
    }
    void Append(const char* text) { Append(text, std::strlen(text)); }
    void Append(char c) { Append(&c, 1); }
    // Copies the characters of `s` that need nothing, a local name's backslashes as '/',
    // up to the first that does; how many it took.
    size_t AppendPlain(const char* s, size_t n, bool localName) {
        const char* map = localName ? kPlainInLocalNames.to : kPlainInAddresses.to;
        const size_t room = ok_ ? room_ - length_ : 0;
        const size_t limit = n < room ? n : room;
        char* to = at_ + length_;
        size_t i = 0;
        for (char c; i < limit && (c = map[static_cast<unsigned char>(s[i])]) != '\0'; ++i)
            to[i] = c;
        if (i == limit && i < n && map[static_cast<unsigned char>(s[i])] != '\0') {
            ok_ = false;
            return n;
        }
        length_ += i;
        return i;
    }
    size_t length() const { return length_; }
    bool ok() const { return ok_; }

private:
    char* at_;
    size_t room_;
    size_t length_ = 0;
    bool ok_ = true;
};

// Writes `s` as AppendValue says, into a BoundedText or an OutputText.
template <class Text>
void WriteValue(const char* s, size_t n, bool localName, uint8_t context, Text& out) {
    const bool css = (context & kInCss) != 0, html = (context & kInAttribute) != 0;
    const bool quoted = (context & (kDoubleQuoted | kSingleQuoted)) != 0;
    const bool cssQuoted = (context & (kCssDoubleQuoted | kCssSingleQuoted)) != 0;
    for (size_t i = 0; i < n;) {
        if constexpr (std::is_same_v<Text, OutputText>) {
            i += out.AppendPlain(s + i, n - i, localName);
            if (i == n) break;
        }
        // Most characters need nothing: they go in runs.
        size_t run = i;
        while (run < n && kPlainInValues(s[run])) ++run;
        if (run > i) {
            out.Append(s + i, run - i);
            i = run;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(s[i++]);
        // First as the URL must read: %-encoded where a browser would take the character
        // otherwise.
        if (localName && c == '\\') {
            out.Append('/');
            continue;
        }
        bool encode = c <= 0x20 || c >= 0x7F ||
                      (localName && (c == '%' || c == '#' || c == '?' || c == '&' || c == '\'' ||
                                     c == '"' || c == ',' || c == '(' || c == ')')) ||
                      ((context & kInSrcset) && c == ',');
        if (encode && (localName || c < 0x80)) {
            AppendPercent(c, out);
            continue;
        }
        // Then as the place it stands in writes it: CSS escapes, then character references.
        char piece[2];
        size_t k = 0;
        if (css && (c == '\\' || c == '"' || c == '\'' || (!cssQuoted && (c == '(' || c == ')'))))
            piece[k++] = '\\';
        piece[k++] = static_cast<char>(c);
        for (size_t j = 0; j < k; ++j) {
            char p = piece[j];
            if (html && p == '&') out.Append("&amp;");
            else if (html && p == '"' && (context & kDoubleQuoted)) out.Append("&quot;");
            else if (html && p == '\'' && (context & kSingleQuoted)) out.Append("&#39;");
            else if (html && !quoted && p == '>') out.Append("%3E");
            else out.Append(p);
        }
    }
}

// A reference read and resolved.
struct Resolved {
    int32_t length;    // of the decoded value
    size_t urlLength;  // of its part before the fragment
    size_t n;          // of the absolute URL
    char value[URL_TEXT_SIZE];
    char url[URL_TEXT_SIZE];
};

class PageScan final : public ReferenceVisitor {
public:
    PageScan(CrawlState& state, const char* in, int32_t length, char* out, int32_t capacity,
             const SaveOptions& options, std::vector<LocalSpot>* spots, const StopToken& stop)
        : state_(state),
          in_(in),
          end_(length),
          out_(out),
          capacity_(capacity),
          options_(options),
          spots_(spots),
          stop_(stop),
          found_(PageFacts(state)) {
        ParseBase(state.current().url, &base_);
        pageHost_ = SiteHostOf(base_);
        const int32_t self = state.entryOf(state.currentIndex);
        if (self >= 0) selfName_ = state.LocalNameOf(self);
        inFolder_ = selfName_.find('\\') != std::string::npos;
        siteTree_ = state.policy->Layout() == NameLayout::kSiteTree;
        // The deepest root that holds this text: what its names may also be read against.
        const std::string_view url(state.current().url);
        const std::string* deepest = nullptr;
        for (const std::string& root : state.siteRoots())
            if (url.compare(0, root.size(), root) == 0 &&
                (deepest == nullptr || root.size() > deepest->size()))
                deepest = &root;
        hasRoot_ = deepest != nullptr && ParseBase(deepest->c_str(), &root_);
    }

    bool Found(const FoundReference& r) override;
    bool Continue() override { return !stop_.requested(); }

    int32_t Finish() {
        // An empty text may come without a buffer: nothing to copy then.
        if (end_ > copied_)
            std::memcpy(out_ + outLength_, in_ + copied_, static_cast<size_t>(end_ - copied_));
        outLength_ += end_ - copied_;
        copied_ = end_;
        state_.Splice(groups_.embeddedHead, groups_.embeddedTail, groups_.linkHead,
                      groups_.linkTail);
        return outLength_;
    }
    bool outOfRecords() const { return outOfRecords_; }

private:
    bool Resolve(const FoundReference& r, Resolved& x) const;
    void AddAtRoot(const FoundReference& r, const Resolved& x);
    void Add(const FoundReference& r, const Resolved& x);
    bool Replace(const FoundReference& r, const char* text, size_t length);

    CrawlState& state_;
    const char* in_;
    int32_t end_;
    char* out_;
    int32_t outLength_ = 0;
    int32_t capacity_;
    int32_t copied_ = 0;  // the input before this index has been written to the output
    const SaveOptions& options_;
    std::vector<LocalSpot>* spots_;
    const StopToken stop_;
    const FoundOnPage found_;
    // The text's own local name: its references to saved items are written relative to its
    // folder (in the save folder itself, as they are).
    std::string selfName_;
    bool inFolder_ = false;
    std::string relative_;
    BaseUrl base_;
    // The saved files keep the site's layout: the files a script loads are saved too.
    bool siteTree_ = false;
    BaseUrl root_;
    bool hasRoot_ = false;
    std::string pageHost_;
    FoundGroups groups_;
    bool outOfRecords_ = false;
};

bool PageScan::Found(const FoundReference& r) {
    const bool loaded = (r.context & kNamedInScript) && r.kind != KIND_PICTURE;
    // What a script loads by a name it builds works only where the site's layout is kept.
    if (loaded && !siteTree_) return true;
    Resolved x;
    if (!Resolve(r, x)) return true;
    if (r.kind == kSiteRoot) {
        state_.AddSiteRoot(std::string_view(x.url, x.n));
        return true;
    }
    if (r.base) {
        // References after it resolve against it; the saved page against its own folder.
        ParseBase(x.url, &base_);
        Replace(r, "", 0);
        return true;
    }
    if (r.role == ElementRole::kGetFormAction && siteTree_) {
        // Where the saved pages keep their places, a search form leads to a saved search page.
        FoundReference page = r;
        page.kind = KIND_PAGE;
        Add(page, x);
        return true;
    }
    Add(r, x);
    if (loaded && hasRoot_) AddAtRoot(r, x);
    return true;
}

// A name a script builds from the site's root ("pathtoroot + 'search.js'", base_url +
// "/search/worker.js") names a file there, wherever the script itself is.
void PageScan::AddAtRoot(const FoundReference& r, const Resolved& x) {
    Resolved y = x;
    const char* value = x.value;
    size_t n = x.urlLength;
    if (n >= 2 && value[0] == '/' && value[1] != '/') {
        ++value;
        --n;
    }
    y.n = ResolveUrl(root_, value, n, y.url);
    if (y.n > 0 && (y.n != x.n || std::memcmp(y.url, x.url, x.n) != 0)) Add(r, y);
}

// False when the reference is kept as it is: empty, too long, a place in the page itself,
// another scheme or no usable URL.
bool PageScan::Resolve(const FoundReference& r, Resolved& x) const {
    x.length =
        r.joined ? DecodeValue(r.joined, r.joinedLength, r.context, x.value, sizeof x.value)
                 : DecodeValue(in_ + r.begin, r.end - r.begin, r.context, x.value, sizeof x.value);
    if (x.length <= 0 || x.value[0] == '#') return false;
    const void* hash = std::memchr(x.value, '#', static_cast<size_t>(x.length));
    x.urlLength = hash ? static_cast<size_t>(static_cast<const char*>(hash) - x.value)
                       : static_cast<size_t>(x.length);
    x.n = ResolveUrl(base_, x.value, x.urlLength, x.url);
    return x.n > 0;
}

void PageScan::Add(const FoundReference& r, const Resolved& x) {
    const char* url = x.url;
    size_t n = x.n;
    // Once the page table has run out, what is found is named by its address.
    ItemChoice choice;
    const bool named = (r.context & kNamedInScript) != 0;
    // What only a script or a form names may not be there: its failure is not told.
    const bool guessed = named || r.role == ElementRole::kGetFormAction;
    if (r.kind != kAddressOnly && !outOfRecords_) {
        bool known = guessed && state_.FindUrl(url, n) >= 0;
        choice = AddFoundItem(state_, found_, groups_, url, n, r.kind,
                              IsOnSite(url, n, pageHost_), options_);
        outOfRecords_ = choice.outOfRecords;
        if (choice.entry >= 0 && (!guessed || !known))
            state_.entry(choice.entry).guessed = guessed;
    }
    if (named) return;  // the script stays as it is
    // The value goes straight after the text before it, when the rest of the page still
    // fits behind it.
    int64_t at = outLength_ + static_cast<int64_t>(r.begin - copied_);
    int64_t room = std::min<int64_t>(kInsertAreaSize - 1, capacity_ - at - (end_ - r.end));
    if (room < 0) return;
    std::memcpy(out_ + outLength_, in_ + copied_, static_cast<size_t>(r.begin - copied_));
    OutputText insert(out_ + at, static_cast<size_t>(room));
    if (choice.local) {
        std::string_view name = state_.LocalNameOf(choice.entry);
        if (inFolder_) {
            RelativeName(selfName_, name, &relative_);
            name = relative_;
        }
        WriteValue(name.data(), name.size(), true, r.context, insert);
    } else {
        WriteValue(url, n, false, r.context, insert);
    }
    size_t localLength = insert.length();
    if (x.urlLength < static_cast<size_t>(x.length))
        WriteValue(x.value + x.urlLength, static_cast<size_t>(x.length) - x.urlLength, false,
                   r.context, insert);
    if (!insert.ok()) return;
    outLength_ = static_cast<int32_t>(at + static_cast<int64_t>(insert.length()));
    copied_ = r.end;
    if (choice.local && spots_ && state_.entry(choice.entry).fate != UrlFate::kSaved) {
        // Filled in place, field by field: a spot built aside and copied whole would be read
        // back before its fields are written out, and wait for everything before it.
        LocalSpot& spot = spots_->emplace_back();
        spot.offset = static_cast<int32_t>(at);
        spot.length = static_cast<int32_t>(localLength);
        spot.entry = choice.entry;
        spot.context = r.context;
    }
}

// Puts `text` where the value stood. False, with nothing changed, when the page would no
// longer fit in its buffer.
bool PageScan::Replace(const FoundReference& r, const char* text, size_t length) {
    int64_t kept = outLength_ + (r.begin - copied_);
    if (kept + static_cast<int64_t>(length) + (end_ - r.end) > capacity_) return false;
    std::memcpy(out_ + outLength_, in_ + copied_, static_cast<size_t>(r.begin - copied_));
    outLength_ += r.begin - copied_;
    std::memcpy(out_ + outLength_, text, length);
    outLength_ += static_cast<int32_t>(length);
    copied_ = r.end;
    return true;
}

}  // namespace

void AppendValue(const char* s, size_t n, bool localName, uint8_t context, BoundedText& out) {
    WriteValue(s, n, localName, context, out);
}

ScanResult ScanAndRewritePage(CrawlState& state, const char* text, int32_t length, TextKind kind,
                              const SaveOptions& options, char* out, int32_t* outLength,
                              std::vector<LocalSpot>* spots, const StopToken& stop) {
    PageScan scan(state, text, length, out, FETCH_BUFFER_SIZE, options, spots, stop);
    bool whole = ReadReferences(text, length, kind, scan);
    // What was found is queued even when a stop ended the scan (nothing of it is visited).
    *outLength = scan.Finish();
    if (!whole) return ScanResult::kStopped;
    return scan.outOfRecords() ? ScanResult::kOutOfRecords : ScanResult::kComplete;
}

}  // namespace qm
