#include "references.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ascii.h"

namespace qm {
namespace {

constexpr int32_t kPollBytes = 1 << 16;

// What ends a name or value inside a tag, one look-up per byte.
enum TagByte : uint8_t {
    kBlank = 1,
    kEndsTagName = 2,        // blanks, '/' and '>'
    kEndsAttributeName = 4,  // those and '='
    kEndsUnquoted = 8,       // blanks and '>'
};
struct TagBytes {
    uint8_t of[256] = {};
    constexpr TagBytes() {
        for (char c : {' ', '\t', '\n', '\r', '\f'})
            of[static_cast<unsigned char>(c)] =
                kBlank | kEndsTagName | kEndsAttributeName | kEndsUnquoted;
        of['/'] = kEndsTagName | kEndsAttributeName;
        of['>'] = kEndsTagName | kEndsAttributeName | kEndsUnquoted;
        of['='] = kEndsAttributeName;
    }
    bool operator()(char c, uint8_t what) const {
        return (of[static_cast<unsigned char>(c)] & what) != 0;
    }
};
constexpr TagBytes kTagBytes;

bool IsBlank(char c) { return kTagBytes(c, kBlank); }
bool IsIdentChar(char c) {
    return IsAlnum(c) || c == '-' || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// A tag or attribute name, lower case; names too long to be one we know are left empty.
// Left uninitialised until Set: a tag is read for every '<' of the text.
// A word of a table, with its length known when the program is compiled.
struct Word {
    const char* text;
    size_t length;
    template <size_t K>
    constexpr Word(const char (&word)[K]) : text(word), length(K - 1) {}
    constexpr bool operator==(const Word& other) const {
        if (length != other.length) return false;
        for (size_t i = 0; i < length; ++i)
            if (text[i] != other.text[i]) return false;
        return true;
    }
};

template <size_t N>
struct Name {
    char text[N];
    size_t length;
    void Set(const char* s, int32_t n) {
        length = n <= 0 || n >= static_cast<int32_t>(N) ? 0 : static_cast<size_t>(n);
        for (size_t i = 0; i < length; ++i) text[i] = Lower(s[i]);
    }
    template <size_t K>
    bool Is(const char (&word)[K]) const {
        return length == K - 1 && std::memcmp(text, word, K - 1) == 0;
    }
    bool Is(const Word& word) const {
        return length == word.length && std::memcmp(text, word.text, length) == 0;
    }
};

struct Attribute {
    Name<16> name;
    int32_t from;        // the name's first byte
    int32_t begin, end;  // the value
    uint8_t quote;       // kDoubleQuoted, kSingleQuoted or 0
};

struct Tag {
    Name<16> name;
    int32_t begin, end;  // the '<' and one past the '>'
    Attribute attributes[kMaxAttributes];
    int count = 0;
    template <size_t K>
    const Attribute* Find(const char (&name)[K]) const {
        for (int i = 0; i < count; ++i)
            if (attributes[i].name.Is(name)) return &attributes[i];
        return nullptr;
    }
};

// Elements whose content is text up to their end tag, never tags: a style sheet's is read
// as one.
struct RawTextElement {
    Word name;
    bool css;
};
constexpr RawTextElement kRawTextElements[] = {
    {"script", false}, {"style", true},   {"textarea", false}, {"title", false},
    {"xmp", false},    {"iframe", false}, {"noembed", false},  {"noframes", false},
};

// Which attribute of which element holds a reference, and what it stands for. The first row
// whose attribute and element match counts; an empty element matches every element, and an
// attribute no row names holds no reference.
enum RuleNeeds : uint8_t {
    kKindAlone = 0,
    kLinkRel = 1,     // the kind is read from the link's rel (and as)
    kInputImage = 2,  // a picture when type="image", else an address
    kBaseUrl = 3,     // the page's base URL
    kCandidates = 4,  // a srcset list of candidates
};
struct ReferenceRule {
    Word element;
    Word attribute;
    PageKind kind;
    RuleNeeds needs;
};
constexpr ReferenceRule kReferenceRules[] = {
    {"a", "href", KIND_PAGE, kKindAlone},
    {"area", "href", KIND_PAGE, kKindAlone},
    {"image", "href", KIND_PICTURE, kKindAlone},
    {"link", "href", kAddressOnly, kLinkRel},
    {"base", "href", kAddressOnly, kBaseUrl},
    {"", "href", kAddressOnly, kKindAlone},
    {"a", "xlink:href", KIND_PAGE, kKindAlone},
    {"area", "xlink:href", KIND_PAGE, kKindAlone},
    {"image", "xlink:href", KIND_PICTURE, kKindAlone},
    {"", "xlink:href", kAddressOnly, kKindAlone},
    {"img", "src", KIND_PICTURE, kKindAlone},
    {"input", "src", kAddressOnly, kInputImage},
    {"frame", "src", KIND_FRAME, kKindAlone},
    {"iframe", "src", KIND_FRAME, kKindAlone},
    {"script", "src", KIND_SCRIPT, kKindAlone},
    {"embed", "src", KIND_MEDIA, kKindAlone},
    {"audio", "src", KIND_MEDIA, kKindAlone},
    {"video", "src", KIND_MEDIA, kKindAlone},
    {"source", "src", KIND_MEDIA, kKindAlone},
    {"track", "src", KIND_MEDIA, kKindAlone},
    {"", "src", kAddressOnly, kKindAlone},
    {"img", "srcset", KIND_PICTURE, kCandidates},
    {"source", "srcset", KIND_PICTURE, kCandidates},
    // What scripts that load pictures and frames late put in place of src and srcset.
    {"img", "data-src", KIND_PICTURE, kKindAlone},
    {"source", "data-src", KIND_PICTURE, kKindAlone},
    {"iframe", "data-src", KIND_FRAME, kKindAlone},
    {"img", "data-srcset", KIND_PICTURE, kCandidates},
    {"source", "data-srcset", KIND_PICTURE, kCandidates},
    {"video", "poster", KIND_PICTURE, kKindAlone},
    {"", "background", KIND_PICTURE, kKindAlone},
    {"object", "data", KIND_MEDIA, kKindAlone},
    {"", "action", kAddressOnly, kKindAlone},
    {"", "formaction", kAddressOnly, kKindAlone},
    {"", "cite", kAddressOnly, kKindAlone},
    {"", "longdesc", kAddressOnly, kKindAlone},
    {"", "data-root-path", kSiteRoot, kKindAlone},
    {"", "data-url_root", kSiteRoot, kKindAlone},
};
constexpr size_t kRuleCount = sizeof kReferenceRules / sizeof *kReferenceRules;

// For each row, the row after the last of those next to it that name the same attribute:
// an attribute that does not match is passed over with its rows at once.
struct RuleGroups {
    size_t end[kRuleCount] = {};
    constexpr RuleGroups() {
        for (size_t i = kRuleCount; i-- > 0;)
            end[i] = i + 1 < kRuleCount && kReferenceRules[i + 1].attribute ==
                                                kReferenceRules[i].attribute
                         ? end[i + 1]
                         : i + 1;
    }
};
constexpr RuleGroups kRuleGroups;

// The lengths of the raw-text elements' names, one bit each: most tags are passed over
// with one test.
constexpr uint32_t RawTextLengths() {
    uint32_t bits = 0;
    for (const RawTextElement& e : kRawTextElements) bits |= 1u << e.name.length;
    return bits;
}
constexpr uint32_t kRawTextLengths = RawTextLengths();
const char* const kPictureExtensions[] = {"png",  "gif",  "jpg", "jpeg", "ico",  "svg",
                                          "webp", "avif", "bmp", "cur",  "jfif", "apng"};

class Reader {
public:
    Reader(const char* text, int32_t length, ReferenceVisitor& visitor)
        : t_(text),
          n_(length),
          v_(visitor),
          markup_(visitor.WantsMarkup()) {}

    bool Html();
    bool Css(int32_t from, int32_t to, uint8_t context);
    bool Script();

private:
    bool SiteRoots(int32_t from, int32_t to);
    bool SearchResultPages(int32_t contents, int32_t names);
    bool NavTreeIndexScripts();
    int32_t TreeChildScript(int32_t begin, int32_t end);
    int32_t Find(const char* word, int32_t from) const;
    int32_t StringAt(int32_t at, int32_t* end) const;
    int32_t JoinedName(int32_t extension, int32_t end);
    PageKind ScriptNameKind(int32_t begin, int32_t end) const;
    bool Poll(int32_t at) {
        if (at < nextPoll_) return true;
        nextPoll_ = at + kPollBytes;
        return v_.Continue();
    }
    bool Emit(int32_t begin, int32_t end, PageKind kind, uint8_t context, bool base = false) {
        if (end <= begin) return true;
        return v_.Found(FoundReference{begin, end, kind, context, base});
    }
    // A reference that is a tag's attribute value as a whole.
    bool EmitAttribute(const Tag& tag, const Attribute& a, PageKind kind, bool base) {
        if (a.end <= a.begin) return true;
        FoundReference r{a.begin, a.end, kind, static_cast<uint8_t>(kInAttribute | a.quote), base};
        r.role = RoleOf(tag, a, kind);
        r.tagBegin = tag.begin;
        r.tagEnd = tag.end;
        r.attributeBegin = a.from;
        r.attributeEnd = a.quote != 0 ? a.end + 1 : a.end;
        return v_.Found(r);
    }
    ElementRole RoleOf(const Tag& tag, const Attribute& a, PageKind kind) const;
    int32_t After(int32_t from, char c) const {
        if (from >= n_) return n_;
        const void* p = std::memchr(t_ + from, c, static_cast<size_t>(n_ - from));
        return p ? static_cast<int32_t>(static_cast<const char*>(p) - t_) + 1 : n_;
    }
    bool MatchesNoCase(int32_t at, int32_t to, const char* word) const {
        int32_t k = static_cast<int32_t>(std::strlen(word));
        return at + k <= to && EqualNoCase(t_ + at, word, static_cast<size_t>(k));
    }
    int32_t SkipComment(int32_t from) const;
    int32_t ReadTag(int32_t from, Tag* tag) const;
    int32_t FindEndTag(int32_t from, const char* name) const;
    bool TagReferences(const Tag& tag);
    bool StartTag(const Tag& tag);
    bool Mark(FoundMarkup::Kind kind, int32_t begin, int32_t end) {
        return v_.Markup(FoundMarkup{kind, begin, end, "", 0, nullptr, 0});
    }
    bool RefreshUrl(const Attribute& content);
    bool Srcset(const Attribute& a, PageKind kind);
    int32_t CssUrlValue(int32_t at, int32_t to, FoundReference* r) const;
    int32_t CssUrl(int32_t at, int32_t to, uint8_t context, bool* ok);
    int32_t Import(int32_t at, int32_t to, uint8_t context, bool* ok);
    int32_t EscapeEnd(int32_t at, int32_t to) const;
    int32_t CssStringEnd(int32_t from, int32_t to, char quote) const;
    PageKind ByExtension(int32_t begin, int32_t end) const;

    const char* t_;
    int32_t n_;
    ReferenceVisitor& v_;
    bool markup_;
    int32_t nextPoll_ = 0;
    std::string joined_;
};

bool Reader::Html() {
    const bool markup = markup_;
    int32_t i = 0;
    while (i < n_) {
        if (!Poll(i)) return false;
        const int32_t textBegin = i;
        i = After(i, '<');
        const int32_t textEnd = i > textBegin && t_[i - 1] == '<' ? i - 1 : i;
        if (markup && textEnd > textBegin &&
            !Mark(FoundMarkup::kText, textBegin, textEnd))
            return false;
        if (i >= n_) break;
        char c = t_[i];
        if (c == '!') {
            i = MatchesNoCase(i, n_, "!--") ? SkipComment(i + 3) : After(i, '>');
        } else if (c == '?') {
            i = After(i, '>');
        } else if (c == '/') {
            if (i + 1 >= n_ || !IsAlpha(t_[i + 1])) {
                i = After(i, '>');
                continue;
            }
            Tag end;
            i = ReadTag(i + 1, &end);
            if (markup && i <= n_ &&
                !v_.Markup(FoundMarkup{FoundMarkup::kEndTag, textEnd, i, end.name.text,
                                       end.name.length, nullptr, 0}))
                return false;
        } else if (IsAlpha(c)) {
            Tag tag;
            i = ReadTag(i, &tag);
            if (i > n_) break;  // the text ends inside the tag
            if (!TagReferences(tag) || (markup && !StartTag(tag))) return false;
            if (tag.name.Is("plaintext")) break;
            if (tag.name.length >= 32 || !(kRawTextLengths & (1u << tag.name.length))) continue;
            for (const RawTextElement& raw : kRawTextElements) {
                if (!tag.name.Is(raw.name)) continue;
                int32_t end = FindEndTag(i, raw.name.text);
                if (raw.css && !Css(i, end, 0)) return false;
                if (tag.name.Is("script") && !SiteRoots(i, end)) return false;
                i = end;
                break;
            }
        }
    }
    return true;
}

bool Reader::StartTag(const Tag& tag) {
    MarkupAttribute attributes[kMaxAttributes];
    for (int k = 0; k < tag.count; ++k) {
        const Attribute& a = tag.attributes[k];
        attributes[k] = MarkupAttribute{a.name.text, a.name.length, a.begin, a.end, a.quote};
    }
    return v_.Markup(FoundMarkup{FoundMarkup::kStartTag, tag.begin, tag.end, tag.name.text,
                                 tag.name.length, attributes, tag.count});
}

// After "<!--": the index after the comment's end, or the text's end.
int32_t Reader::SkipComment(int32_t from) const {
    if (from < n_ && t_[from] == '>') return from + 1;
    if (from + 1 < n_ && t_[from] == '-' && t_[from + 1] == '>') return from + 2;
    for (int32_t i = from; i < n_;) {
        i = After(i, '-');
        if (i + 1 < n_ && t_[i] == '-' && t_[i + 1] == '>') return i + 2;
        if (i + 2 < n_ && t_[i] == '-' && t_[i + 1] == '!' && t_[i + 2] == '>') return i + 3;
    }
    return n_;
}

// Reads the tag whose name begins at `from`. The index after its '>', or n_ + 1 when the
// text ends first.
int32_t Reader::ReadTag(int32_t from, Tag* tag) const {
    int32_t i = from;
    while (i < n_ && !kTagBytes(t_[i], kEndsTagName)) ++i;
    tag->name.Set(t_ + from, i - from);
    tag->begin = from - 1;
    for (;;) {
        while (i < n_ && (IsBlank(t_[i]) || t_[i] == '/')) ++i;
        if (i >= n_) return n_ + 1;
        if (t_[i] == '>') return tag->end = i + 1;
        int32_t nameStart = i++;
        while (i < n_ && !kTagBytes(t_[i], kEndsAttributeName)) ++i;
        // Read in place: an attribute built aside and copied whole would be read back before
        // its fields are written out, and wait for everything before it.
        Attribute spare;
        Attribute& a = tag->count < kMaxAttributes ? tag->attributes[tag->count] : spare;
        a.name.Set(t_ + nameStart, i - nameStart);
        a.from = nameStart;
        a.quote = 0;
        while (i < n_ && IsBlank(t_[i])) ++i;
        if (i < n_ && t_[i] == '=') {
            ++i;
            while (i < n_ && IsBlank(t_[i])) ++i;
            if (i < n_ && (t_[i] == '"' || t_[i] == '\'')) {
                char q = t_[i];
                a.quote = q == '"' ? kDoubleQuoted : kSingleQuoted;
                a.begin = i + 1;
                const void* close = std::memchr(t_ + a.begin, q, static_cast<size_t>(n_ - a.begin));
                if (close == nullptr) return n_ + 1;
                a.end = static_cast<int32_t>(static_cast<const char*>(close) - t_);
                i = a.end + 1;
            } else {
                a.begin = i;
                while (i < n_ && !kTagBytes(t_[i], kEndsUnquoted)) ++i;
                a.end = i;
            }
        } else {
            a.begin = a.end = i;
        }
        if (tag->count < kMaxAttributes) ++tag->count;
    }
}

// The '<' of the end tag of the raw-text element `name`, looked for from `from`.
int32_t Reader::FindEndTag(int32_t from, const char* name) const {
    int32_t k = static_cast<int32_t>(std::strlen(name));
    for (int32_t i = from; i < n_;) {
        i = After(i, '<');
        if (i + k + 1 <= n_ && t_[i] == '/' && MatchesNoCase(i + 1, n_, name) &&
            (i + k + 1 == n_ || IsBlank(t_[i + k + 1]) || t_[i + k + 1] == '/' ||
             t_[i + k + 1] == '>'))
            return i - 1;
    }
    return n_;
}

bool HasToken(const char* text, int32_t n, const char* word) {
    int32_t k = static_cast<int32_t>(std::strlen(word));
    for (int32_t i = 0; i < n;) {
        while (i < n && IsBlank(text[i])) ++i;
        int32_t start = i;
        while (i < n && !IsBlank(text[i])) ++i;
        if (i - start == k && EqualNoCase(text + start, word, static_cast<size_t>(k))) return true;
    }
    return false;
}

// What a link element's href stands for, by its rel (and, for a preload, its as).
PageKind LinkKind(const char* t, const Tag& tag) {
    const Attribute* rel = tag.Find("rel");
    if (rel == nullptr) return kAddressOnly;
    const char* r = t + rel->begin;
    int32_t n = rel->end - rel->begin;
    if (HasToken(r, n, "stylesheet")) return KIND_STYLE_SHEET;
    if (HasToken(r, n, "icon") || HasToken(r, n, "apple-touch-icon") ||
        HasToken(r, n, "apple-touch-icon-precomposed") || HasToken(r, n, "mask-icon"))
        return KIND_PICTURE;
    if (HasToken(r, n, "modulepreload")) return KIND_SCRIPT;
    if (HasToken(r, n, "preload")) {
        const Attribute* as = tag.Find("as");
        const char* a = as ? t + as->begin : "";
        int32_t m = as ? as->end - as->begin : 0;
        if (IsWordNoCase(a, static_cast<size_t>(m), "style")) return KIND_STYLE_SHEET;
        if (IsWordNoCase(a, static_cast<size_t>(m), "image")) return KIND_PICTURE;
        if (IsWordNoCase(a, static_cast<size_t>(m), "script")) return KIND_SCRIPT;
        return KIND_FONT;
    }
    return kAddressOnly;
}

// The rule for attribute `a` of `tag`; null when the attribute holds no reference.
const ReferenceRule* RuleFor(const Tag& tag, const Attribute& a) {
    for (size_t i = 0; i < kRuleCount; i = kRuleGroups.end[i]) {
        if (!a.name.Is(kReferenceRules[i].attribute)) continue;
        for (size_t j = i; j < kRuleGroups.end[i]; ++j) {
            const ReferenceRule& rule = kReferenceRules[j];
            if (rule.element.length == 0 || tag.name.Is(rule.element)) return &rule;
        }
        return nullptr;
    }
    return nullptr;
}

// The kind of a reference its rule leaves to more than the element.
PageKind KindBy(const char* t, const Tag& tag, const ReferenceRule& rule) {
    if (rule.needs == kLinkRel) return LinkKind(t, tag);
    if (rule.needs == kInputImage) {
        const Attribute* type = tag.Find("type");
        return type && IsWordNoCase(t + type->begin, static_cast<size_t>(type->end - type->begin),
                                    "image")
                   ? PageKind{KIND_PICTURE}
                   : kAddressOnly;
    }
    return rule.kind;
}

bool Reader::TagReferences(const Tag& tag) {
    for (int i = 0; i < tag.count; ++i) {
        const Attribute& a = tag.attributes[i];
        if (a.name.Is("style")) {
            if (!Css(a.begin, a.end, static_cast<uint8_t>(kInAttribute | a.quote))) return false;
            continue;
        }
        if (a.name.Is("content") && tag.name.Is("meta")) {
            const Attribute* equiv = tag.Find("http-equiv");
            if (equiv &&
                IsWordNoCase(t_ + equiv->begin, static_cast<size_t>(equiv->end - equiv->begin),
                             "refresh") &&
                !RefreshUrl(a))
                return false;
            continue;
        }
        const ReferenceRule* rule = RuleFor(tag, a);
        if (rule == nullptr) continue;
        const PageKind kind = KindBy(t_, tag, *rule);
        bool ok = rule->needs == kCandidates
                      ? Srcset(a, kind)
                      : EmitAttribute(tag, a, kind, rule->needs == kBaseUrl);
        if (!ok) return false;
    }
    return true;
}

ElementRole Reader::RoleOf(const Tag& tag, const Attribute& a, PageKind kind) const {
    if (a.name.Is("action") && tag.name.Is("form")) {
        const Attribute* method = tag.Find("method");
        const bool get = method == nullptr ||
                         IsWordNoCase(t_ + method->begin,
                                      static_cast<size_t>(method->end - method->begin), "get");
        return get ? ElementRole::kGetFormAction : ElementRole::kValue;
    }
    if (!a.name.Is("src") && !a.name.Is("href")) return ElementRole::kValue;
    if (tag.name.Is("iframe")) return ElementRole::kFrameSource;
    if (tag.name.Is("script")) {
        const Attribute* type = tag.Find("type");
        const bool module =
            type && IsWordNoCase(t_ + type->begin, static_cast<size_t>(type->end - type->begin),
                                 "module");
        return !module && (tag.Find("defer") || tag.Find("async")) ? ElementRole::kLateScriptSource
                                                                   : ElementRole::kScriptSource;
    }
    if (tag.name.Is("link") && kind != kAddressOnly) {
        const Attribute* rel = tag.Find("rel");
        // An alternate style sheet stays one the reader may pick, and a disabled one one a
        // script may turn on: only its value changes.
        if (rel && HasToken(t_ + rel->begin, rel->end - rel->begin, "stylesheet"))
            return kind == KIND_STYLE_SHEET &&
                           !HasToken(t_ + rel->begin, rel->end - rel->begin, "alternate") &&
                           tag.Find("disabled") == nullptr
                       ? ElementRole::kStyleSheetLink
                       : ElementRole::kValue;
        if (rel && (HasToken(t_ + rel->begin, rel->end - rel->begin, "preload") ||
                    HasToken(t_ + rel->begin, rel->end - rel->begin, "modulepreload")))
            return ElementRole::kPreloadLink;
    }
    return ElementRole::kValue;
}

// The page a refresh goes to: "5; url=next.html", the URL perhaps quoted, or "0;next.html".
bool Reader::RefreshUrl(const Attribute& content) {
    int32_t i = content.begin, end = content.end;
    while (i < end && (IsBlank(t_[i]) || IsDigit(t_[i]) || t_[i] == '.')) ++i;
    if (i < end && (t_[i] == ';' || t_[i] == ',')) ++i;
    while (i < end && IsBlank(t_[i])) ++i;
    if (MatchesNoCase(i, end, "url")) {
        int32_t j = i + 3;
        while (j < end && IsBlank(t_[j])) ++j;
        if (j < end && t_[j] == '=') {
            i = j + 1;
            while (i < end && IsBlank(t_[i])) ++i;
        }
    }
    if (i < end && (t_[i] == '"' || t_[i] == '\'')) {
        const char q = t_[i++];
        const void* close = std::memchr(t_ + i, q, static_cast<size_t>(end - i));
        if (close) end = static_cast<int32_t>(static_cast<const char*>(close) - t_);
    }
    while (end > i && IsBlank(t_[end - 1])) --end;
    return Emit(i, end, KIND_PAGE, static_cast<uint8_t>(kInAttribute | content.quote));
}

// Each candidate's URL: up to a blank, without the commas that end it.
bool Reader::Srcset(const Attribute& a, PageKind kind) {
    const uint8_t context = static_cast<uint8_t>(kInAttribute | kInSrcset | a.quote);
    for (int32_t i = a.begin; i < a.end;) {
        while (i < a.end && (IsBlank(t_[i]) || t_[i] == ',')) ++i;
        int32_t start = i;
        while (i < a.end && !IsBlank(t_[i])) ++i;
        int32_t end = i;
        bool commaEnded = false;
        while (end > start && t_[end - 1] == ',') {
            --end;
            commaEnded = true;
        }
        if (!Emit(start, end, kind, context)) return false;
        if (!commaEnded) {
            int depth = 0;  // descriptors up to the next comma outside parentheses
            for (; i < a.end && !(t_[i] == ',' && depth == 0); ++i) {
                if (t_[i] == '(') ++depth;
                if (t_[i] == ')' && depth > 0) --depth;
            }
        }
    }
    return true;
}

PageKind Reader::ByExtension(int32_t begin, int32_t end) const {
    // A closing quote written as a character reference is no part of the name.
    while (end > begin && (t_[end - 1] == '"' || t_[end - 1] == '\'')) --end;
    if (end > begin && t_[end - 1] == ';') {
        int32_t amp = end - 1;
        while (amp > begin && end - amp < 8 && t_[amp] != '&') --amp;
        if (t_[amp] == '&') end = amp;
    }
    int32_t stop = begin;
    while (stop < end && t_[stop] != '?' &&
           !(t_[stop] == '#' && (stop == begin || t_[stop - 1] != '&')))
        ++stop;
    int32_t dot = stop;
    while (dot > begin && t_[dot - 1] != '.' && t_[dot - 1] != '/') --dot;
    if (dot == begin || t_[dot - 1] != '.') return KIND_FONT;
    for (const char* ext : kPictureExtensions)
        if (IsWordNoCase(t_ + dot, static_cast<size_t>(stop - dot), ext)) return KIND_PICTURE;
    return KIND_FONT;
}

// The index of the closing quote of a CSS string opened before `from`; `to` when a line end
// or the range's end comes first.
int32_t Reader::CssStringEnd(int32_t from, int32_t to, char quote) const {
    for (int32_t i = from; i < to; ++i) {
        if (t_[i] == quote) return i;
        if (t_[i] == '\n') return to;
        if (t_[i] == '\\') ++i;
    }
    return to;
}

// After the CSS escape at `at`: a backslash and one character, or up to six hex digits and
// the one blank that may end them ("\\29 " is one ')').
int32_t Reader::EscapeEnd(int32_t at, int32_t to) const {
    int32_t j = at + 1;
    auto hex = [](char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); };
    if (j >= to || !hex(t_[j])) return at + 2;
    while (j < to && j - at <= 6 && hex(t_[j])) ++j;
    return j < to && IsBlank(t_[j]) ? j + 1 : j;
}

// At "url(": finds its value, `r` receiving its place and quotes (begin == end when there is
// none). Returns where the scan goes on: after the ')'.
int32_t Reader::CssUrlValue(int32_t at, int32_t to, FoundReference* r) const {
    r->begin = r->end = 0;
    int32_t j = at + 4;
    while (j < to && IsBlank(t_[j])) ++j;
    int32_t begin, end;
    if (j < to && (t_[j] == '"' || t_[j] == '\'')) {
        char q = t_[j];
        begin = j + 1;
        end = CssStringEnd(begin, to, q);
        if (end >= to) return end;
        r->context |= q == '"' ? kCssDoubleQuoted : kCssSingleQuoted;
        j = end + 1;
    } else {
        begin = j;
        while (j < to && t_[j] != ')' && !IsBlank(t_[j]) && t_[j] != '"' && t_[j] != '\'')
            j = t_[j] == '\\' ? EscapeEnd(j, to) : j + 1;
        end = j < to ? j : to;
        while (j < to && IsBlank(t_[j])) ++j;
        if (j >= to || t_[j] != ')') return j;
    }
    r->begin = begin;
    r->end = end;
    return j;
}

// At "url(": takes its value. Returns where the scan goes on.
int32_t Reader::CssUrl(int32_t at, int32_t to, uint8_t context, bool* ok) {
    FoundReference r{0, 0, 0, static_cast<uint8_t>(context | kInCss), false};
    const int32_t j = CssUrlValue(at, to, &r);
    *ok = r.end <= r.begin ||
          v_.Found(FoundReference{r.begin, r.end, ByExtension(r.begin, r.end), r.context, false});
    return j;
}

// At "@import": reports its sheet with the rule around it. Returns where the scan goes on.
int32_t Reader::Import(int32_t at, int32_t to, uint8_t context, bool* ok) {
    *ok = true;
    int32_t j = at + 7;
    while (j < to && IsBlank(t_[j])) ++j;
    FoundReference r{0, 0, KIND_STYLE_SHEET, static_cast<uint8_t>(context | kInCss), false};
    if (j < to && (t_[j] == '"' || t_[j] == '\'')) {
        r.begin = j + 1;
        r.end = CssStringEnd(j + 1, to, t_[j]);
        if (r.end >= to) return r.end + 1;
        r.context |= t_[j] == '"' ? kCssDoubleQuoted : kCssSingleQuoted;
        j = r.end + 1;
    } else if (MatchesNoCase(j, to, "url(")) {
        j = CssUrlValue(j, to, &r);
        while (j < to && IsBlank(t_[j])) ++j;
        if (j < to && t_[j] == ')') ++j;
    }
    if (r.end <= r.begin) return j;
    r.role = ElementRole::kImportRule;
    r.tagBegin = at;
    r.attributeBegin = j;
    int32_t end = j;
    while (end < to && t_[end] != ';' && t_[end] != '{' && t_[end] != '}') {
        if (t_[end] == '"' || t_[end] == '\'') end = CssStringEnd(end + 1, to, t_[end]);
        ++end;
    }
    end = end < to ? end : to;
    r.attributeEnd = end;
    r.tagEnd = end < to && t_[end] == ';' ? end + 1 : end;
    *ok = v_.Found(r);
    return j;
}

bool Reader::Css(int32_t from, int32_t to, uint8_t context) {
    // For a visitor of the markup: the runs between comments, strings, escapes and URLs, and
    // the comments. A style attribute's CSS is its value.
    const bool markup = markup_ && !(context & kInAttribute);
    int32_t run = from;
    auto endRun = [&](int32_t at) {
        const bool ok = !markup || at <= run || Mark(FoundMarkup::kCss, run, at);
        run = at;
        return ok;
    };
    for (int32_t i = from; i < to;) {
        if (!Poll(i)) return false;
        char c = t_[i];
        if (c == '/' && i + 1 < to && t_[i + 1] == '*') {
            int32_t j = i + 2;
            while (j + 1 < to && !(t_[j] == '*' && t_[j + 1] == '/')) ++j;
            if (!endRun(i) || (markup && j + 1 < to && !Mark(FoundMarkup::kCssComment, i, j + 2)))
                return false;
            i = run = j + 2;
        } else if (c == '"' || c == '\'') {
            if (!endRun(i)) return false;
            i = run = CssStringEnd(i + 1, to, c) + 1;
        } else if (c == '\\') {
            if (!endRun(i)) return false;
            run = EscapeEnd(i, to);
            i += 2;
        } else if (c == '@' && MatchesNoCase(i, to, "@import")) {
            bool ok = endRun(i);
            if (ok) i = run = Import(i, to, context, &ok);
            if (!ok) return false;
        } else if ((c == 'u' || c == 'U') && (i == from || !IsIdentChar(t_[i - 1])) &&
                   MatchesNoCase(i, to, "url(")) {
            bool ok = endRun(i);
            if (ok) i = run = CssUrl(i, to, context, &ok);
            if (!ok) return false;
        } else {
            ++i;
        }
    }
    return endRun(std::max(run, to));
}

// Appends the character `code` as UTF-8.
int32_t PutCode(uint32_t code, char* out, int32_t n, size_t size) {
    char b[4];
    int k;
    if (code < 0x80) {
        b[0] = static_cast<char>(code);
        k = 1;
    } else if (code < 0x800) {
        b[0] = static_cast<char>(0xC0 | (code >> 6));
        b[1] = static_cast<char>(0x80 | (code & 63));
        k = 2;
    } else if (code < 0x10000) {
        b[0] = static_cast<char>(0xE0 | (code >> 12));
        b[1] = static_cast<char>(0x80 | ((code >> 6) & 63));
        b[2] = static_cast<char>(0x80 | (code & 63));
        k = 3;
    } else {
        b[0] = static_cast<char>(0xF0 | (code >> 18));
        b[1] = static_cast<char>(0x80 | ((code >> 12) & 63));
        b[2] = static_cast<char>(0x80 | ((code >> 6) & 63));
        b[3] = static_cast<char>(0x80 | (code & 63));
        k = 4;
    }
    if (static_cast<size_t>(n + k) >= size) return -1;
    std::memcpy(out + n, b, static_cast<size_t>(k));
    return n + k;
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    char l = Lower(c);
    return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

// A character reference at `s` (which begins with '&'): its length and character, or 0.
int32_t CharacterReference(const char* s, int32_t n, uint32_t* code) {
    if (n >= 3 && s[1] == '#') {
        bool hex = s[2] == 'x' || s[2] == 'X';
        int32_t i = hex ? 3 : 2;
        uint32_t value = 0;
        int32_t digits = 0;
        for (; i < n && digits < 8; ++i, ++digits) {
            int d = hex ? HexValue(s[i]) : (IsDigit(s[i]) ? s[i] - '0' : -1);
            if (d < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        }
        if (digits == 0 || value == 0 || value > 0x10FFFF) return 0;
        if (i < n && s[i] == ';') ++i;
        *code = value;
        return i;
    }
    static const struct {
        const char* name;
        uint32_t code;
    } kNamed[] = {{"amp", '&'},  {"lt", '<'},    {"gt", '>'},
                  {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
    for (const auto& e : kNamed) {
        int32_t k = static_cast<int32_t>(std::strlen(e.name));
        if (n < k + 1 || std::memcmp(s + 1, e.name, static_cast<size_t>(k)) != 0) continue;
        if (n > k + 1 && s[k + 1] == ';') {
            *code = e.code;
            return k + 2;
        }
        // Without its ';' only where no name or '=' could follow, as browsers read attributes.
        bool open = n == k + 1 || !(IsAlnum(s[k + 1]) || s[k + 1] == '=');
        if (open && e.code != '\'' && e.code != 0xA0) {
            *code = e.code;
            return k + 1;
        }
    }
    return 0;
}

}  // namespace

// The variables that name a site's root in a page's inline script: a string assigned to them
// ("pathtoroot = './'", "var base_url = '..'", "URL_ROOT: '../'").
constexpr Word kSiteRootVariables[] = {"pathtoroot", "base_url", "URL_ROOT"};

bool Reader::SiteRoots(int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i) {
        if (!Poll(i)) return false;
        const char c = t_[i];
        if ((c != 'p' && c != 'b' && c != 'U') || (i > from && IsIdentChar(t_[i - 1]))) continue;
        int32_t k = -1;
        for (const Word& name : kSiteRootVariables)
            if (i + static_cast<int32_t>(name.length) < to &&
                std::memcmp(t_ + i, name.text, name.length) == 0)
                k = i + static_cast<int32_t>(name.length);
        if (k < 0 || IsIdentChar(t_[k])) continue;
        while (k < to && IsBlank(t_[k])) ++k;
        if (k >= to || (t_[k] != '=' && t_[k] != ':')) continue;
        ++k;
        while (k < to && IsBlank(t_[k])) ++k;
        if (k >= to || (t_[k] != '"' && t_[k] != '\'')) continue;
        // The string, up to its quote on the same line.
        int32_t end = k + 1;
        while (end < to && end - k <= 256 && t_[end] != t_[k] && t_[end] != '\n') ++end;
        if (end >= to || t_[end] != t_[k]) continue;
        if (!Emit(k + 1, end, kSiteRoot, kNamedInScript)) return false;
        i = end;
    }
    return true;
}

// What a name in a script's string stands for by its extension: a picture, a script or the
// data a script loads, a style sheet, a font; kAddressOnly for anything else.
PageKind Reader::ScriptNameKind(int32_t begin, int32_t end) const {
    int32_t dot = end;
    while (dot > begin && t_[dot - 1] != '.' && t_[dot - 1] != '/') --dot;
    if (dot == begin || t_[dot - 1] != '.') return kAddressOnly;
    const char* ext = t_ + dot;
    const size_t n = static_cast<size_t>(end - dot);
    for (const char* picture : kPictureExtensions)
        if (IsWordNoCase(ext, n, picture)) return KIND_PICTURE;
    static const struct {
        const char* extension;
        PageKind kind;
    } kLoaded[] = {{"js", KIND_SCRIPT},       {"mjs", KIND_SCRIPT}, {"json", KIND_SCRIPT},
                   {"css", KIND_STYLE_SHEET}, {"woff", KIND_FONT},  {"woff2", KIND_FONT},
                   {"ttf", KIND_FONT},        {"otf", KIND_FONT},   {"eot", KIND_FONT}};
    for (const auto& loaded : kLoaded)
        if (IsWordNoCase(ext, n, loaded.extension)) return loaded.kind;
    return kAddressOnly;
}

bool IsNameChar(char c) {
    return IsAlnum(c) || c == '_' || c == '-' || c == '.' || c == '/' || c == '%';
}

// A name and its extension given apart, as a function's two strings ("search-index", ".js"):
// `extension` is the string's first byte after its opening quote, `end` its closing quote.
// Makes the name whole in joined_; its length, or 0 when the strings are not such a pair.
int32_t Reader::JoinedName(int32_t extension, int32_t end) {
    int32_t k = extension - 2;  // before the opening quote
    while (k >= 0 && IsBlank(t_[k])) --k;
    if (k < 0 || t_[k] != ',') return 0;
    --k;
    while (k >= 0 && IsBlank(t_[k])) --k;
    if (k < 1 || (t_[k] != '"' && t_[k] != '\'')) return 0;
    const int32_t close = k;
    int32_t open = close - 1;
    while (open >= 0 && close - open <= 64 && IsNameChar(t_[open]) && t_[open] != '.') --open;
    if (open < 0 || t_[open] != t_[close] || open + 1 == close) return 0;
    joined_.assign(t_ + open + 1, static_cast<size_t>(close - open - 1));
    joined_.append(t_ + extension, static_cast<size_t>(end - extension));
    return static_cast<int32_t>(joined_.size());
}

// Where `word` stands in the text from `from` on; -1 where it does not.
int32_t Reader::Find(const char* word, int32_t from) const {
    const size_t k = std::strlen(word);
    for (int32_t i = from; i + static_cast<int32_t>(k) <= n_; ++i) {
        const void* p = std::memchr(t_ + i, word[0], static_cast<size_t>(n_ - i));
        if (p == nullptr) return -1;
        i = static_cast<int32_t>(static_cast<const char*>(p) - t_);
        if (i + static_cast<int32_t>(k) <= n_ && std::memcmp(t_ + i, word, k) == 0) return i;
    }
    return -1;
}

// The string whose opening quote is at `at`, read from one past it up to `*end`, its closing
// quote; -1 where none is there.
int32_t Reader::StringAt(int32_t at, int32_t* end) const {
    if (at >= n_ || (t_[at] != '"' && t_[at] != '\'')) return -1;
    int32_t i = at + 1;
    while (i < n_ && t_[i] != t_[at] && t_[i] != '\n') i += t_[i] == '\\' ? 2 : 1;
    if (i >= n_ || t_[i] != t_[at]) return -1;
    *end = i;
    return at + 1;
}

// Doxygen's search data names each section of the search index and the first letters it has
// entries for ("indexSectionNames = {0: "all", ...}", "indexSectionsWithContent = {0: "abc",
// ...}"). The entries of each letter are a page of their own beside it, named after the section
// and the letter's place in hexadecimal ("all_1a.html"), with a script of the same name; one
// more page says there is no match.
bool Reader::SearchResultPages(int32_t contents, int32_t names) {
    constexpr int kMostPages = 512;
    // The string of each numbered entry of the object after `from`.
    auto entries = [this](int32_t from, std::vector<std::pair<int32_t, int32_t>>* out) {
        int32_t i = After(from, '{');
        while (i < n_ && t_[i] != '}' && out->size() < 64) {
            while (i < n_ && (IsBlank(t_[i]) || t_[i] == ',')) ++i;
            int32_t number = 0, digits = 0;
            for (; i < n_ && IsDigit(t_[i]) && digits < 3; ++i, ++digits)
                number = number * 10 + (t_[i] - '0');
            while (i < n_ && IsBlank(t_[i])) ++i;
            if (digits == 0 || i >= n_ || t_[i] != ':') return;
            ++i;
            while (i < n_ && IsBlank(t_[i])) ++i;
            int32_t end;
            const int32_t begin = StringAt(i, &end);
            if (begin < 0) return;
            if (static_cast<size_t>(number) >= out->size()) out->resize(number + 1, {-1, -1});
            (*out)[number] = {begin, end};
            i = end + 1;
        }
    };
    std::vector<std::pair<int32_t, int32_t>> letters, sections;
    entries(contents, &letters);
    entries(names, &sections);
    int pages = 0;
    for (size_t s = 0; s < sections.size() && s < letters.size(); ++s) {
        const auto [begin, end] = sections[s];
        if (begin < 0 || end - begin > 32 || letters[s].first < 0) continue;
        int32_t place = 0;
        for (int32_t c = letters[s].first; c < letters[s].second && pages < kMostPages; ++c) {
            // One letter: a character of UTF-8 or an escape.
            if ((static_cast<unsigned char>(t_[c]) & 0xC0) == 0x80) continue;
            if (t_[c] == '\\') c += t_[c + 1] == 'u' ? 5 : 1;
            char hex[12];
            std::snprintf(hex, sizeof hex, "_%x", static_cast<unsigned>(place++));
            for (const auto& [extension, kind] :
                 {std::pair<const char*, PageKind>{".html", KIND_FRAME}, {".js", KIND_SCRIPT}}) {
                joined_.assign(t_ + begin, static_cast<size_t>(end - begin));
                joined_.append(hex).append(extension);
                FoundReference r{begin, end, kind, kNamedInScript, false};
                r.joined = joined_.data();
                r.joinedLength = static_cast<int32_t>(joined_.size());
                if (!v_.Found(r)) return false;
            }
            ++pages;
        }
    }
    joined_ = "nomatches.html";
    FoundReference r{names, names + 1, KIND_FRAME, kNamedInScript, false};
    r.joined = joined_.data();
    r.joinedLength = static_cast<int32_t>(joined_.size());
    return v_.Found(r);
}

// Doxygen's navigation tree data: "var NAVTREEINDEX = [...]" has an entry for each script of
// the tree's index beside it, "navtreeindex0.js" on.
bool Reader::NavTreeIndexScripts() {
    constexpr int kMostScripts = 512;
    for (int32_t at = Find("NAVTREEINDEX", 0); at >= 0; at = Find("NAVTREEINDEX", at + 1)) {
        int32_t i = at + 12;
        while (i < n_ && IsBlank(t_[i])) ++i;
        if (i >= n_ || t_[i] != '=') continue;
        ++i;
        while (i < n_ && IsBlank(t_[i])) ++i;
        if (i >= n_ || t_[i] != '[') continue;
        int count = 0;
        for (++i; i < n_ && t_[i] != ']' && count < kMostScripts; ++i) {
            int32_t end;
            if (StringAt(i, &end) < 0) continue;
            joined_ = "navtreeindex" + std::to_string(count++) + ".js";
            FoundReference r{i + 1, end, KIND_SCRIPT, kNamedInScript, false};
            r.joined = joined_.data();
            r.joinedLength = static_cast<int32_t>(joined_.size());
            if (!v_.Found(r)) return false;
            i = end;
        }
        return true;
    }
    return true;
}

// A node of Doxygen's navigation tree whose children are a script of their own:
// [ "title", "page.html", "name" ] loads "name.js". The string from `begin` to `end` (its
// closing quote) is the node's last; makes its script's name in joined_ and gives its length,
// or 0 where the string is no such name.
int32_t Reader::TreeChildScript(int32_t begin, int32_t end) {
    int32_t k = end + 1;
    while (k < n_ && IsBlank(t_[k])) ++k;
    if (k >= n_ || t_[k] != ']') return 0;
    k = begin - 2;  // before the opening quote
    while (k >= 0 && IsBlank(t_[k])) --k;
    if (k < 0 || t_[k] != ',') return 0;
    --k;
    while (k >= 0 && IsBlank(t_[k])) --k;
    if (k < 5 || t_[k] != '"') return 0;
    // The page the node leads to, before it.
    int32_t open = k - 1;
    while (open >= 0 && k - open < 256 && t_[open] != '"' && t_[open] != '\n') --open;
    if (open < 0 || t_[open] != '"' ||
        std::string_view(t_ + open + 1, static_cast<size_t>(k - open - 1)).find(".html") ==
            std::string_view::npos)
        return 0;
    joined_.assign(t_ + begin, static_cast<size_t>(end - begin)).append(".js");
    return static_cast<int32_t>(joined_.size());
}

// A file's name that ends a string: letters, digits and "_-./%" back to the quote or the '}'
// of a template's part that opens it, with an extension that says what it is; not a "//host"
// address. Or a name and its extension as two strings side by side.
bool Reader::Script() {
    constexpr int32_t kLongestName = 200;
    // A script names a few files for its own look and work; a long list of them is data (an
    // emoji table, a gallery) that the page does not show as it opens.
    constexpr int kMostNames = 32;
    const int32_t contents = Find("indexSectionsWithContent", 0);
    const int32_t sections = contents < 0 ? -1 : Find("indexSectionNames", 0);
    if (sections >= 0) return SearchResultPages(contents, sections);
    if (!NavTreeIndexScripts()) return false;
    int names = 0;
    for (int32_t i = 0; i < n_ && names < kMostNames; ++i) {
        if (!Poll(i)) return false;
        const char c = t_[i];
        if (c != '"' && c != '\'' && c != '`') continue;
        int32_t start = i;
        while (start > 0 && i - start < kLongestName && IsNameChar(t_[start - 1])) --start;
        if (start == 0 || start == i) continue;
        const char before = t_[start - 1];
        if (before != '"' && before != '\'' && before != '`' && before != '}') continue;
        if (i - start >= 2 && t_[start] == '/' && t_[start + 1] == '/') continue;
        PageKind kind = ScriptNameKind(start, i);
        if (kind == kAddressOnly && before == '"' && TreeChildScript(start, i) > 0) {
            FoundReference r{start, i, KIND_SCRIPT, kNamedInScript, false};
            r.joined = joined_.data();
            r.joinedLength = static_cast<int32_t>(joined_.size());
            if (!v_.Found(r)) return false;
            ++names;
            continue;
        }
        if (kind == kAddressOnly) continue;
        FoundReference r{start, i, kind, kNamedInScript, false};
        if (t_[start] == '.' && std::memchr(t_ + start + 1, '.', i - start - 1) == nullptr) {
            // Only an extension: the name may stand in the string before it.
            if (before == '}' || JoinedName(start, i) == 0) continue;
            r.joined = joined_.data();
            r.joinedLength = static_cast<int32_t>(joined_.size());
        }
        if (!v_.Found(r)) return false;
        ++names;
    }
    return true;
}

bool ReadReferences(const char* text, int32_t length, TextKind kind, ReferenceVisitor& visitor) {
    Reader reader(text, length, visitor);
    switch (kind) {
        case TextKind::kHtml: return reader.Html();
        case TextKind::kStyleSheet: return reader.Css(0, length, 0);
        case TextKind::kScript: return reader.Script();
    }
    return true;
}

int32_t DecodeValue(const char* value, int32_t length, uint8_t context, char* out, size_t size) {
    if (length < 0 || static_cast<size_t>(length) >= 4 * size) return -1;
    // Most values need nothing undone.
    if (static_cast<size_t>(length) < size && length > 0 && !IsBlank(value[0]) &&
        !IsBlank(value[length - 1]) && (value[0] != '"' && value[0] != '\'') &&
        std::memchr(value, '&', static_cast<size_t>(length)) == nullptr &&
        std::memchr(value, '\\', static_cast<size_t>(length)) == nullptr) {
        std::memcpy(out, value, static_cast<size_t>(length));
        out[length] = '\0';
        return length;
    }
    // Character references first: an attribute's text is CSS only once they are undone.
    char middle[4 * URL_TEXT_SIZE];
    int32_t m = 0;
    for (int32_t i = 0; i < length;) {
        uint32_t code;
        int32_t k = (context & kInAttribute) && value[i] == '&'
                        ? CharacterReference(value + i, length - i, &code)
                        : 0;
        if (k > 0) {
            m = PutCode(code, middle, m, sizeof middle);
            i += k;
        } else {
            // Up to the next '&', as it stands.
            const void* amp = std::memchr(value + i + 1, '&', static_cast<size_t>(length - i - 1));
            int32_t j = amp ? static_cast<int32_t>(static_cast<const char*>(amp) - value) : length;
            if (m + (j - i) >= static_cast<int32_t>(sizeof middle)) return -1;
            std::memcpy(middle + m, value + i, static_cast<size_t>(j - i));
            m += j - i;
            i = j;
        }
        if (m < 0) return -1;
    }
    int32_t n = 0;
    if (!(context & kInCss)) {
        if (m > 0 && static_cast<size_t>(m) >= size) return -1;
        std::memcpy(out, middle, static_cast<size_t>(m));
        n = m;
    } else {
        // Then CSS escapes.
        for (int32_t i = 0; i < m;) {
            char c = middle[i];
            if (c == '\\' && i + 1 < m) {
                if (middle[i + 1] == '\n') {
                    i += 2;
                    continue;
                }
                int32_t j = i + 1;
                uint32_t code = 0;
                while (j < m && j < i + 7 && HexValue(middle[j]) >= 0)
                    code = code * 16 + static_cast<uint32_t>(HexValue(middle[j++]));
                if (j > i + 1) {
                    if (j < m && IsBlank(middle[j])) ++j;
                    n = PutCode(code == 0 || code > 0x10FFFF ? 0xFFFD : code, out, n, size);
                } else {
                    if (static_cast<size_t>(n + 1) >= size) return -1;
                    out[n++] = middle[i + 1];  // any byte, in the page's own encoding
                    j = i + 2;
                }
                if (n < 0) return -1;
                i = j;
                continue;
            }
            if (static_cast<size_t>(n + 1) >= size) return -1;
            out[n++] = c;
            ++i;
        }
    }
    // Blanks around the value are no part of it; an unquoted url() whose quotes were written
    // as character references has them as text.
    int32_t a = 0, b = n;
    while (a < b && IsBlank(out[a])) ++a;
    while (b > a && IsBlank(out[b - 1])) --b;
    if ((context & kInCss) && !(context & (kCssDoubleQuoted | kCssSingleQuoted)) && b - a >= 2 &&
        (out[a] == '"' || out[a] == '\'') && out[b - 1] == out[a]) {
        ++a;
        --b;
    }
    std::memmove(out, out + a, static_cast<size_t>(b - a));
    out[b - a] = '\0';
    return b - a;
}

}  // namespace qm
