#include "single_file_markup.h"

#include <algorithm>
#include <cstring>

#include "ascii.h"

namespace qm {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsNameChar(char c) {
    return IsAlnum(c) || c == '-' || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool Is(const char* text, size_t length, const char* word) {
    return IsWordNoCase(text, length, word);
}

// Values of white-space (and white-space-collapse) under which a run of blanks shows as one.
bool FoldsBlanks(const char* value, size_t length) {
    for (const char* word :
         {"normal", "nowrap", "collapse", "initial", "inherit", "unset", "revert", "revert-layer"})
        if (Is(value, length, word)) return true;
    return false;
}

// The last compound of a selector (after its last combinator), without pseudo-classes,
// pseudo-elements and attribute conditions.
std::string Subject(const std::string& selector) {
    size_t end = selector.size();
    while (end > 0 && IsSpace(selector[end - 1])) --end;
    size_t begin = end;
    int depth = 0;
    while (begin > 0) {
        const char c = selector[begin - 1];
        if (c == ')') ++depth;
        if (c == '(') --depth;
        if (depth == 0 && (IsSpace(c) || c == '>' || c == '+' || c == '~')) break;
        --begin;
    }
    std::string subject = selector.substr(begin, end - begin);
    const size_t cut = subject.find_first_of(":[");
    return cut == std::string::npos ? subject : subject.substr(0, cut);
}

void AddSelector(const std::string& selector, KeptWhiteSpace* kept) {
    const std::string subject = Subject(selector);
    const size_t dot = subject.find('.');
    if (dot != std::string::npos) {
        size_t end = dot + 1;
        while (end < subject.size() && IsNameChar(subject[end])) ++end;
        if (end > dot + 1) {
            kept->classes.insert(subject.substr(dot + 1, end - dot - 1));
            return;
        }
    }
    size_t end = 0;
    while (end < subject.size() && IsNameChar(subject[end])) ++end;
    if (end == 0) {
        kept->everything = true;
        return;
    }
    std::string name = subject.substr(0, end);
    for (char& c : name) c = Lower(c);
    kept->names.insert(name);
}

// How far back the rule around a place of CSS is looked for: the reading stays linear.
constexpr size_t kMostRuleBytes = 1 << 14;

enum class Rule { kNone, kFound, kTooLong };

// The selectors of the rule whose block holds position `at` of `css`: none where `at` is in
// no block (a style attribute).
Rule SelectorsOf(const char* css, size_t at, std::string* selectors) {
    size_t open = at;
    size_t least = at > kMostRuleBytes ? at - kMostRuleBytes : 0;
    while (open > least && !std::strchr("{}<>", css[open - 1])) --open;
    if (open == least && least > 0 && !std::strchr("{}<>", css[open - 1])) return Rule::kTooLong;
    if (open == 0 || css[open - 1] != '{') return Rule::kNone;
    size_t from = open - 1;
    least = from > kMostRuleBytes ? from - kMostRuleBytes : 0;
    while (from > least && !std::strchr("{};<", css[from - 1])) --from;
    if (from == least && least > 0 && !std::strchr("{};<", css[from - 1])) return Rule::kTooLong;
    selectors->assign(css + from, open - 1 - from);
    return Rule::kFound;
}

// Whether an attribute value may be a javascript: URL, as a URL parser reads it: blanks and
// control characters before it, and tabs and line breaks anywhere, pass unseen, and a
// character reference may stand for any character of the scheme.
bool MayBeScriptUrl(const char* value, size_t length) {
    static const char kScheme[] = "javascript:";
    size_t i = 0, k = 0;
    while (i < length && static_cast<unsigned char>(value[i]) <= ' ') ++i;
    for (; i < length; ++i) {
        if (value[i] == '\t' || value[i] == '\n' || value[i] == '\r') continue;
        if (value[i] == '&') return true;
        if (Lower(value[i]) != kScheme[k]) return false;
        if (kScheme[++k] == '\0') return true;
    }
    return false;
}

// The "*/" that ends a CSS comment whose text begins at `from`; `end` when there is none.
const char* CommentEnd(const char* from, const char* end) {
    static const char kClose[] = "*/";
    return std::search(from, end, kClose, kClose + 2);
}

// After blanks and comments from `at` of `css`, up to `end`.
size_t SkipBlanksAndComments(const char* css, size_t at, size_t end) {
    while (at < end) {
        if (IsSpace(css[at])) {
            ++at;
        } else if (at + 1 < end && css[at] == '/' && css[at + 1] == '*') {
            const char* close = CommentEnd(css + at + 2, css + end);
            if (close == css + end) return end;
            at = static_cast<size_t>(close - css) + 2;
        } else {
            break;
        }
    }
    return at;
}

// Whether the start of the rule `prelude` (up to its '{') is an @media for print alone.
bool IsPrintRule(const char* prelude, size_t length) {
    const size_t at = SkipBlanksAndComments(prelude, 0, length);
    return length - at > 6 && EqualNoCase(prelude + at, "@media", 6) && IsSpace(prelude[at + 6]) &&
           IsPrintOnly(prelude + at + 7, length - at - 7);
}

// Whether the tag `next`, right after the end tag of a `closed` element, ends that element
// as well, were the end tag left out.
bool EndsElement(const std::string& closed, const FoundMarkup& next) {
    const std::string name(next.name, next.nameLength);
    const bool start = next.kind == FoundMarkup::kStartTag;
    auto among = [&](std::initializer_list<const char*> names) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    if (closed == "li") return start ? name == "li" : among({"ul", "ol", "menu"});
    if (closed == "dt" || closed == "dd") return start ? among({"dt", "dd"}) : name == "dl";
    if (closed != "p") return false;
    if (start)
        return among({"address", "article", "aside",   "blockquote", "center",   "details",
                      "dialog",  "dir",     "div",     "dl",         "fieldset", "figcaption",
                      "figure",  "footer",  "form",    "h1",         "h2",       "h3",
                      "h4",      "h5",      "h6",      "header",     "hgroup",   "hr",
                      "listing", "main",    "menu",    "nav",        "ol",       "p",
                      "pre",     "section", "summary", "ul"});
    return among({"address", "article", "aside",   "blockquote", "center", "dd",       "details",
                  "dialog",  "dir",     "div",     "dl",         "dt",     "fieldset", "figcaption",
                  "figure",  "footer",  "header",  "hgroup",     "li",     "main",     "menu",
                  "nav",     "ol",      "section", "summary",    "td",     "th",       "ul"});
}

// Whether the rules inside the block of rule `prelude` apply to elements as they stand: it
// is a style rule or a conditional rule, not one (@keyframes, @page) whose blocks hold
// other selectors.
bool HoldsStyleRules(const char* prelude, size_t length) {
    const size_t at = SkipBlanksAndComments(prelude, 0, length);
    if (at == length || prelude[at] != '@') return true;
    for (const char* rule : {"@media", "@supports", "@layer", "@container"}) {
        const size_t k = std::strlen(rule);
        if (length - at > k && EqualNoCase(prelude + at, rule, k) &&
            (IsSpace(prelude[at + k]) || prelude[at + k] == '('))
            return true;
    }
    return false;
}

// Whether an identifier begins at `at` of `text`: not with a digit, nor with '-' and one.
bool IsIdentifierAt(const std::string& text, size_t at) {
    auto starts = [](char c) {
        return IsAlpha(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
    };
    if (at >= text.size()) return false;
    if (text[at] != '-') return starts(text[at]);
    return at + 1 < text.size() && (starts(text[at + 1]) || text[at + 1] == '-');
}

// Whether `selector` is compounds of names (an element or '*', classes, ids) joined by
// combinators, as a browser reads it: never one it refuses.
bool IsPlainSelector(const std::string& selector) {
    const size_t n = selector.size();
    size_t i = 0;
    while (i < n && IsSpace(selector[i])) ++i;
    while (i < n) {
        const size_t compound = i;
        if (selector[i] == '*') {
            ++i;
        } else if (IsIdentifierAt(selector, i)) {
            while (i < n && IsNameChar(selector[i])) ++i;
        }
        while (i < n && (selector[i] == '.' || selector[i] == '#')) {
            if (!IsIdentifierAt(selector, ++i)) return false;
            while (i < n && IsNameChar(selector[i])) ++i;
        }
        if (i == compound) return false;
        size_t j = i;
        while (j < n && IsSpace(selector[j])) ++j;
        if (j == n) return true;
        if (std::strchr(">+~", selector[j])) {
            ++j;
            while (j < n && IsSpace(selector[j])) ++j;
            if (j == n) return false;
        } else if (j == i) {
            return false;
        }
        i = j;
    }
    return false;
}

constexpr const char* kVoidElements[] = {"area",  "base",   "br",    "col",  "embed",
                                         "hr",    "img",    "input", "link", "meta",
                                         "param", "source", "track", "wbr",  "keygen"};

}  // namespace

void KeptWhiteSpace::AddFromCss(const char* css, size_t length) {
    static const char kProperty[] = "white-space";
    const size_t k = sizeof kProperty - 1;
    for (size_t at = 0; at + k <= length; ++at) {
        if (!EqualNoCase(css + at, kProperty, k)) continue;
        size_t i = at + k;
        while (i < length && IsNameChar(css[i])) ++i;
        while (i < length && IsSpace(css[i])) ++i;
        if (i >= length || css[i] != ':') continue;
        ++i;
        while (i < length && IsSpace(css[i])) ++i;
        size_t value = i;
        while (i < length && IsNameChar(css[i])) ++i;
        if (FoldsBlanks(css + value, i - value)) continue;
        std::string selectors;
        const Rule rule = SelectorsOf(css, at, &selectors);
        if (rule == Rule::kNone) continue;  // a style attribute
        if (rule == Rule::kTooLong) everything = true;
        size_t start = 0;
        for (size_t comma = 0; comma <= selectors.size(); ++comma) {
            if (comma < selectors.size() && selectors[comma] != ',') continue;
            AddSelector(selectors.substr(start, comma - start), this);
            start = comma + 1;
        }
    }
}

bool IsPrintOnly(const char* media, size_t length) {
    // An escape, a comment or a character reference may hide another type.
    if (std::find_first_of(media, media + length, "&\\/", "&\\/" + 3) != media + length)
        return false;
    int depth = 0;
    bool print = false;  // the query read so far is for print
    size_t word = 0;     // the words of the query read so far
    for (size_t i = 0; i <= length; ++i) {
        const char c = i < length ? media[i] : ',';
        if (c == '(') ++depth;
        if (c == ')' && depth > 0) --depth;
        if (depth > 0 || c == '(' || c == ')') {
            if (word == 0) return false;  // a query without a type is for all
            continue;
        }
        if (c == ',') {
            if (!print) return false;
            print = false;
            word = 0;
        } else if (IsNameChar(c)) {
            size_t end = i;
            while (end < length && IsNameChar(media[end])) ++end;
            const bool only = word == 0 && Is(media + i, end - i, "only");
            if (!only && word++ == 0) print = Is(media + i, end - i, "print");
            i = end - 1;
        } else if (!IsSpace(c)) {
            return false;
        }
    }
    return true;
}

void PageFacts::Add(const char* text, const FoundMarkup& markup) {
    // Between the pieces of markup: raw text (scripts among it) and comments.
    if (markup.begin > read_) AddWords(text + read_, static_cast<size_t>(markup.begin - read_));
    read_ = std::max(read_, markup.end);
    if (markup.kind != FoundMarkup::kStartTag && markup.kind != FoundMarkup::kEndTag) return;
    const std::string name(markup.name, markup.nameLength);
    // A stray end tag of a p or a br makes the element, as a parser does.
    elements.insert(name);
    if (markup.kind != FoundMarkup::kStartTag) return;
    const bool script = name == "script";
    for (const char* active : {"iframe", "frame", "object", "embed", ""})
        if (name == active) changeable = true;
    // The attributes past those told are read in the words of the whole tag.
    if (markup.attributeCount >= kMaxAttributes) {
        scripted = true;
        AddWords(text + markup.begin, static_cast<size_t>(markup.end - markup.begin));
    }
    if (script) scripted = true;
    for (int i = 0; i < markup.attributeCount; ++i) {
        const MarkupAttribute& a = markup.attributes[i];
        const char* value = text + a.begin;
        const size_t length = static_cast<size_t>(a.end - a.begin);
        AddWords(value, length);
        if (a.nameLength == 0 || StartsWithNoCase(a.name, a.nameLength, "on") ||
            MayBeScriptUrl(value, length))
            scripted = true;
        // A script of an SVG document names its file so: one not written into the page.
        if (script && (Is(a.name, a.nameLength, "href") || Is(a.name, a.nameLength, "xlink:href")))
            changeable = true;
        const bool isClass = Is(a.name, a.nameLength, "class");
        if (!isClass && !Is(a.name, a.nameLength, "id")) continue;
        if (std::find(value, value + length, '&') != value + length) changeable = true;
        for (size_t j = 0; j < length;) {
            while (j < length && IsSpace(value[j])) ++j;
            const size_t start = j;
            while (j < length && (!isClass || !IsSpace(value[j]))) ++j;
            std::string word(value + start, j - start);
            for (char& c : word) c = Lower(c);
            if (!word.empty()) (isClass ? classes : ids).insert(word);
        }
    }
}

void PageFacts::Finish(const char* text, size_t length) {
    if (static_cast<size_t>(read_) < length) AddWords(text + read_, length - read_);
    read_ = static_cast<int32_t>(length);
}

void PageFacts::AddWords(const char* text, size_t length) {
    for (size_t i = 0; i < length && !wordsLost_;) {
        if (!IsNameChar(text[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < length && IsNameChar(text[i])) ++i;
        std::string word(text + start, i - start);
        for (char& c : word) c = Lower(c);
        if (i < length && (text[i] == '"' || text[i] == '\'' || text[i] == '`' || text[i] == '$') &&
            word.size() >= kShortestPrefix)
            prefixes.insert(word);
        words.insert(std::move(word));
        if (words.size() + prefixes.size() > kMostWords) {
            wordsLost_ = true;
            words.clear();
            prefixes.clear();
        }
    }
}

bool PageFacts::Joined(const std::string& name) const {
    size_t n = name.size();
    while (n > 0 && name[n - 1] >= '0' && name[n - 1] <= '9') --n;
    return n >= kShortestPrefix && n < name.size() && prefixes.count(name.substr(0, n)) != 0;
}

bool PageFacts::NeverMatches(const char* css, size_t at, bool byElement) const {
    std::string selectors;
    // Looked for backwards, the selectors may begin inside a string.
    return SelectorsOf(css, at, &selectors) == Rule::kFound &&
           selectors.find_first_of("\"'") == std::string::npos &&
           NoneMatches(selectors.data(), selectors.size(), byElement);
}

bool PageFacts::NoneMatches(const char* text, size_t length, bool byElement) const {
    if (changeable || (scripted && wordsLost_)) return false;
    // The selectors without comments, and their strings (in attribute conditions) empty.
    std::string selectors;
    int depth = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '\\' || c == '@' || c == '|') return false;
        if (c == '/' && i + 1 < length && text[i + 1] == '*') {
            const char* end = CommentEnd(text + i + 2, text + length);
            if (end == text + length) return false;
            selectors += ' ';
            i = static_cast<size_t>(end - text) + 1;
            continue;
        }
        if (c == '/') return false;
        if (c == '"' || c == '\'') {
            const char* end = std::find(text + i + 1, text + length, c);
            if (depth == 0 || end == text + length) return false;
            selectors.append(2, c);
            i = static_cast<size_t>(end - text);
            continue;
        }
        if (c == '(' || c == '[') ++depth;
        if ((c == ')' || c == ']') && depth > 0) --depth;
        selectors += c;
    }
    // Each selector, read outside brackets and parentheses, names a class, an id or an
    // element not there.
    depth = 0;
    size_t begin = 0;
    for (size_t i = 0; i <= selectors.size(); ++i) {
        const char c = i < selectors.size() ? selectors[i] : ',';
        if (c == '(' || c == '[') ++depth;
        if ((c == ')' || c == ']') && depth > 0) --depth;
        if (depth > 0 || c != ',') continue;
        if (!Missing(selectors.substr(begin, i - begin), byElement)) return false;
        begin = i + 1;
    }
    return true;
}

std::vector<std::pair<int32_t, int32_t>> PageFacts::UnmatchedSelectors(const char* css,
                                                                       int32_t begin, int32_t open,
                                                                       bool byElement) const {
    std::vector<std::pair<int32_t, int32_t>> drops;
    if (changeable || (scripted && wordsLost_)) return drops;
    begin = static_cast<int32_t>(
        SkipBlanksAndComments(css, static_cast<size_t>(begin), static_cast<size_t>(open)));
    std::vector<int32_t> commas;  // and `open`, after the last selector
    for (int32_t i = begin; i < open; ++i) {
        if (css[i] == ',') {
            commas.push_back(i);
        } else if (!IsNameChar(css[i]) && !IsSpace(css[i]) && !std::strchr(".#>+~*", css[i])) {
            return drops;
        }
    }
    commas.push_back(open);
    int32_t from = begin, firstKept = -1;
    for (size_t k = 0; k < commas.size(); ++k) {
        const std::string selector(css + from, static_cast<size_t>(commas[k] - from));
        if (!IsPlainSelector(selector)) return {};
        if (!Missing(selector, byElement)) {
            if (firstKept < 0) {
                firstKept = from;
                if (from > begin) drops.emplace_back(begin, from);  // the commas after them too
            }
        } else if (firstKept >= 0) {
            drops.emplace_back(commas[k - 1], commas[k]);  // the comma before it
        }
        from = commas[k] + 1;
    }
    if (firstKept < 0) drops.clear();
    return drops;
}

bool PageFacts::Missing(const std::string& selector, bool byElement) const {
    int depth = 0;
    for (size_t i = 0; i < selector.size(); ++i) {
        const char c = selector[i];
        if (c == '(' || c == '[') ++depth;
        if ((c == ')' || c == ']') && depth > 0) --depth;
        if (depth > 0) continue;
        if (c == '.' || c == '#' || (IsNameChar(c) && (i == 0 || selector[i - 1] != ':'))) {
            const size_t begin = IsNameChar(c) ? i : i + 1;
            size_t end = begin;
            while (end < selector.size() && IsNameChar(selector[end])) ++end;
            std::string word = selector.substr(begin, end - begin);
            for (char& w : word) w = Lower(w);
            const std::set<std::string>& names = c == '.' ? classes : c == '#' ? ids : elements;
            if (!word.empty() && (IsAlpha(c) ? byElement : !IsNameChar(c)) && !Has(names, word))
                return true;
            i = end - 1;
        } else if (IsNameChar(c)) {
            while (i + 1 < selector.size() && IsNameChar(selector[i + 1])) ++i;  // a pseudo-class
        }
    }
    return false;
}

void MarkupEdits::Add(const char* text, const FoundMarkup& markup,
                      const std::vector<FoundReference>& found) {
    const std::string name(markup.name, markup.nameLength);
    if (markup.kind != FoundMarkup::kCss && markup.kind != FoundMarkup::kCssComment) {
        blocks_.clear();  // the CSS of a style element ends with it
        ruleBegin_ = -1;
        if (printStyle_ >= 0 && markup.kind == FoundMarkup::kEndTag && name == "style")
            DropFrom(printStyle_, markup.end);
        printStyle_ = -1;
    }
    if (!lastEnd_.empty() && markup.begin == lastEndTag_.end &&
        (markup.kind == FoundMarkup::kStartTag || markup.kind == FoundMarkup::kEndTag) &&
        EndsElement(lastEnd_, markup))
        edits_.push_back(lastEndTag_);
    lastEnd_.clear();
    const bool implied = compact_ && (name == "p" || name == "li" || name == "dt" || name == "dd");
    // What a tag ends is no longer open: its end tag then would be stray.
    if (compact_ &&
        (markup.kind == FoundMarkup::kStartTag || markup.kind == FoundMarkup::kEndTag)) {
        if (EndsElement("p", markup) || name == "table") open_.erase("p");
        if (EndsElement("li", markup)) open_.erase("li");
        if (EndsElement("dt", markup)) {
            open_.erase("dt");
            open_.erase("dd");
        }
    }
    switch (markup.kind) {
        case FoundMarkup::kText:
            if (compact_) DropXmlDeclaration(text, markup);
            if (compact_ && keeping_.empty() && !kept_.everything)
                edits_.push_back(MarkupEdit{markup.begin, markup.end, MarkupEdit::kFold});
            return;
        case FoundMarkup::kCss:
            if (compact_)
                edits_.push_back(MarkupEdit{markup.begin, markup.end, MarkupEdit::kFoldCss});
            FollowRules(text, markup);
            return;
        case FoundMarkup::kCssComment:
            if (compact_) DropComment(text, markup);
            return;
        case FoundMarkup::kEndTag:
            if (!keeping_.empty() && name == keeping_ && --depth_ == 0) keeping_.clear();
            // A stray end tag makes an element: it stays.
            if (implied && open_.erase(name)) {
                lastEnd_ = name;
                lastEndTag_ = MarkupEdit{markup.begin, markup.end, MarkupEdit::kDrop};
            }
            return;
        case FoundMarkup::kStartTag:
            PrintSheet(text, markup);
            if (!compact_) return;
            if (implied) open_.insert(name);
            Unquote(text, markup, found);
            DropDefaultType(text, markup);
            if (!keeping_.empty()) {
                if (name == keeping_) ++depth_;
                return;
            }
            for (const char* v : kVoidElements)
                if (name == v) return;
            if (Keeps(text, markup)) {
                // A name too long to know is never seen to end: kept to the end of the page.
                keeping_ = name.empty() ? std::string(1, '\0') : name;
                depth_ = 1;
            }
            return;
    }
}

bool MarkupEdits::Keeps(const char* text, const FoundMarkup& tag) const {
    const std::string name(tag.name, tag.nameLength);
    for (const char* kept : {"pre", "textarea", "listing", "xmp", "plaintext"})
        if (name == kept) return true;
    if (kept_.names.count(name)) return true;
    // A name too long to know may be one the CSS keeps.
    if (name.empty())
        return std::any_of(kept_.names.begin(), kept_.names.end(),
                           [](const std::string& n) { return n.size() >= 16; });
    for (int i = 0; i < tag.attributeCount; ++i) {
        const MarkupAttribute& a = tag.attributes[i];
        const char* value = text + a.begin;
        const size_t length = static_cast<size_t>(a.end - a.begin);
        if (Is(a.name, a.nameLength, "xml:space")) return true;
        if (Is(a.name, a.nameLength, "style")) {
            for (size_t j = 0; j + 11 <= length; ++j)
                if (EqualNoCase(value + j, "white-space", 11)) return true;
        }
        if (Is(a.name, a.nameLength, "class")) {
            for (size_t j = 0; j < length;) {
                while (j < length && IsSpace(value[j])) ++j;
                const size_t start = j;
                while (j < length && !IsSpace(value[j])) ++j;
                if (j > start && kept_.classes.count(std::string(value + start, j - start)))
                    return true;
            }
        }
    }
    return false;
}

// The attribute values of a start tag that read the same unquoted: not empty, without blanks
// or the characters that end or trouble an unquoted value, followed by a blank or the '>',
// and holding no reference written anew.
void MarkupEdits::Unquote(const char* text, const FoundMarkup& tag,
                          const std::vector<FoundReference>& found) {
    for (int i = 0; i < tag.attributeCount; ++i) {
        const MarkupAttribute& a = tag.attributes[i];
        if (a.quote == 0 || a.end <= a.begin) continue;
        const char after = text[a.end + 1];
        if (!IsSpace(after) && after != '>') continue;
        bool plain = true;
        for (int32_t j = a.begin; j < a.end && plain; ++j)
            plain = !IsSpace(text[j]) && !std::strchr("\"'=<>`", text[j]);
        for (auto r = found.rbegin(); plain && r != found.rend() && r->begin >= tag.begin; ++r)
            plain = !(r->begin >= a.begin && r->begin <= a.end && IsWrittenAnew(*r));
        if (plain) edits_.push_back(MarkupEdit{a.begin - 1, a.end + 1, MarkupEdit::kUnquote});
    }
}

// A link to a style sheet for print alone goes; so does a style element for print, once
// its end tag is read.
void MarkupEdits::PrintSheet(const char* text, const FoundMarkup& tag) {
    const std::string name(tag.name, tag.nameLength);
    if (name != "link" && name != "style") return;
    bool sheet = name == "style", print = false;
    for (int i = 0; i < tag.attributeCount; ++i) {
        const MarkupAttribute& a = tag.attributes[i];
        const char* value = text + a.begin;
        const size_t length = static_cast<size_t>(a.end - a.begin);
        if (Is(a.name, a.nameLength, "media")) print = IsPrintOnly(value, length);
        if (!Is(a.name, a.nameLength, "rel")) continue;
        for (size_t j = 0; j < length;) {
            while (j < length && IsSpace(value[j])) ++j;
            const size_t start = j;
            while (j < length && !IsSpace(value[j])) ++j;
            sheet = sheet || Is(value + start, j - start, "stylesheet");
        }
    }
    if (!sheet || !print) return;
    if (name == "style") printStyle_ = tag.begin;
    else DropFrom(tag.begin, tag.end);
}

// The type attribute of a script or style element that names what the element holds
// anyway (JavaScript, CSS) goes, with the blank before its name.
void MarkupEdits::DropDefaultType(const char* text, const FoundMarkup& tag) {
    const std::string name(tag.name, tag.nameLength);
    const char* type = name == "script"  ? "text/javascript"
                       : name == "style" ? "text/css"
                                         : nullptr;
    if (type == nullptr) return;
    for (int i = 0; i < tag.attributeCount; ++i) {
        const MarkupAttribute& a = tag.attributes[i];
        if (!Is(a.name, a.nameLength, "type") ||
            !Is(text + a.begin, static_cast<size_t>(a.end - a.begin), type))
            continue;
        // Back from the value over its quote, the '=' and blanks around it, to the name.
        int32_t at = a.begin - (a.quote != 0 ? 1 : 0);
        while (at > tag.begin && (IsSpace(text[at - 1]) || text[at - 1] == '=')) --at;
        at -= 4;
        if (at <= tag.begin || !EqualNoCase(text + at, "type", 4) || !IsSpace(text[at - 1])) return;
        DropFrom(at - 1, a.end + (a.quote != 0 ? 1 : 0));
        return;
    }
}

// An XML declaration that opens the page is no more than a comment to a page read as HTML:
// it goes, where the text right after it is the page's first markup.
void MarkupEdits::DropXmlDeclaration(const char* text, const FoundMarkup& run) {
    const char* close = static_cast<const char*>(std::memchr(text, '>', run.begin));
    if (run.begin > 6 && std::memcmp(text, "<?xml", 5) == 0 && close == text + run.begin - 1 &&
        close[-1] == '?')
        edits_.push_back(MarkupEdit{0, run.begin, MarkupEdit::kDrop});
}

void MarkupEdits::DropFrom(int32_t begin, int32_t end) {
    while (!rules_.empty() && rules_.back().begin >= begin) rules_.pop_back();
    rules_.push_back(MarkupEdit{begin, end, MarkupEdit::kDrop});
}

// Follows the blocks of CSS through a run, from the end of what came before each rule: an
// @media rule for print is dropped, and a rule whose block holds no block and which matches
// no element of the page.
void MarkupEdits::FollowRules(const char* text, const FoundMarkup& run) {
    if (ruleBegin_ < 0) ruleBegin_ = run.begin;
    for (int32_t i = run.begin; i < run.end; ++i) {
        const char c = text[i];
        if (c == '{') {
            const bool byElement = blocks_.empty() || blocks_.back().innerByElement;
            if (!blocks_.empty()) blocks_.back().holdsBlock = true;
            const size_t prelude = static_cast<size_t>(i - ruleBegin_);
            blocks_.push_back(Block{ruleBegin_, i, false, byElement,
                                    byElement && HoldsStyleRules(text + ruleBegin_, prelude)});
        } else if (c == '}' && !blocks_.empty()) {
            const Block b = blocks_.back();
            blocks_.pop_back();
            const size_t prelude = static_cast<size_t>(b.open - b.rule);
            if (IsPrintRule(text + b.rule, prelude)) {
                DropFrom(b.rule, i + 1);
            } else if (!b.holdsBlock && facts_ &&
                       facts_->NoneMatches(text + b.rule, prelude, b.byElement)) {
                rules_.push_back(MarkupEdit{b.rule, i + 1, MarkupEdit::kDrop});
            } else if (!b.holdsBlock && facts_) {
                for (const auto& d : facts_->UnmatchedSelectors(text, b.rule, b.open, b.byElement))
                    rules_.push_back(MarkupEdit{d.first, d.second, MarkupEdit::kDrop});
            }
        } else if (c != ';') {
            continue;
        }
        ruleBegin_ = i + 1;
    }
}

std::vector<MarkupEdit> MarkupEdits::Take() {
    std::vector<MarkupEdit> all;
    all.reserve(edits_.size() + rules_.size());
    std::merge(rules_.begin(), rules_.end(), edits_.begin(), edits_.end(), std::back_inserter(all),
               [](const MarkupEdit& a, const MarkupEdit& b) { return a.begin < b.begin; });
    edits_.clear();
    rules_.clear();
    return all;
}

// A comment goes where a blank or punctuation beside it keeps apart what stands around it.
void MarkupEdits::DropComment(const char* text, const FoundMarkup& comment) {
    const bool before = !edits_.empty() && edits_.back().end == comment.begin &&
                        edits_.back().kind == MarkupEdit::kFoldCss;
    const char previous = comment.begin > 0 ? text[comment.begin - 1] : ' ';
    const char next = text[comment.end];  // the text's end reads as '\0'
    if ((before && (IsSpace(previous) || std::strchr("{};,>(", previous))) || IsSpace(next) ||
        (next != '\0' && std::strchr("{};,)", next)))
        edits_.push_back(MarkupEdit{comment.begin, comment.end, MarkupEdit::kDrop});
}

EditedCopy::EditedCopy(const std::string& text, std::vector<MarkupEdit> edits) : text_(text) {
    for (const MarkupEdit& e : edits) {
        if (e.kind != MarkupEdit::kDrop) {
            edits_.push_back(e);
        } else if (drops_.empty() || e.begin >= drops_.back().end) {
            drops_.push_back(e);  // a comment inside a rule dropped goes with it
        }
    }
}

bool EditedCopy::Dropped(size_t at) const {
    auto after = std::upper_bound(
        drops_.begin(), drops_.end(), at,
        [](size_t a, const MarkupEdit& e) { return a < static_cast<size_t>(e.begin); });
    return after != drops_.begin() && at < static_cast<size_t>((after - 1)->end);
}

bool EditedCopy::To(size_t to, Output& out) {
    while (at_ < to) {
        while (nextDrop_ < drops_.size() && static_cast<size_t>(drops_[nextDrop_].begin) < at_)
            ++nextDrop_;  // passed, or cut by the copy: as it stands
        const size_t drop =
            nextDrop_ < drops_.size() ? static_cast<size_t>(drops_[nextDrop_].begin) : text_.size();
        if (drop == at_ && static_cast<size_t>(drops_[nextDrop_].end) <= to) {
            at_ = static_cast<size_t>(drops_[nextDrop_++].end);
            continue;
        }
        while (next_ < edits_.size() && static_cast<size_t>(edits_[next_].end) <= at_) ++next_;
        const size_t stop = std::min(to, drop > at_ ? drop : to);
        if (next_ == edits_.size() || static_cast<size_t>(edits_[next_].begin) >= stop) {
            if (!out.Put(text_.data() + at_, stop - at_)) return false;
            at_ = stop;
            continue;
        }
        const MarkupEdit& e = edits_[next_];
        const size_t begin = static_cast<size_t>(e.begin), end = static_cast<size_t>(e.end);
        if (begin > at_) {
            if (!out.Put(text_.data() + at_, begin - at_)) return false;
            at_ = begin;
        }
        if (e.kind == MarkupEdit::kFold || e.kind == MarkupEdit::kFoldCss) {
            const size_t until = std::min(end, stop);
            if (!Fold(at_, until, e.kind == MarkupEdit::kFoldCss, out)) return false;
            at_ = until;
        } else if (begin == at_ && end <= stop) {
            if (!out.Put(text_.data() + begin + 1, end - begin - 2)) return false;
            at_ = end;
        } else {
            ++next_;  // cut by the copy: as it stands
        }
    }
    return true;
}

// Writes each run of blanks of [from, to) as one: a line break where the run holds one. In
// CSS, a run beside punctuation that ends what comes before or after it or a combinator that
// needs none goes, and one after a colon not escaped; so does the semicolon before a block's
// end.
bool EditedCopy::Fold(size_t from, size_t to, bool css, Output& out) {
    size_t done = from;
    for (size_t i = from; i < to;) {
        // The semicolon that ends a block's last declaration parts nothing.
        if (css && text_[i] == ';') {
            size_t next = i + 1;
            while (next < to && IsSpace(text_[next])) ++next;
            if (next < to && text_[next] == '}') {
                if (!out.Put(text_.data() + done, i - done)) return false;
                done = i + 1;
            }
        }
        if (!IsSpace(text_[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        bool line = false;
        for (; end < to && IsSpace(text_[end]); ++end)
            line |= text_[end] == '\n' || text_[end] == '\r';
        // A blank after a colon parts nothing either: a name, or a declaration's property,
        // comes right after the colon of a pseudo-class or a condition.
        const bool colon =
            i > from && text_[i - 1] == ':' && (i - 1 == from || text_[i - 2] != '\\');
        const bool drop = css && (colon || (i > from && std::strchr("{};,>~", text_[i - 1])) ||
                                  (end < to && std::strchr("{};,>~", text_[end])));
        if (drop || end - i > 1) {
            if (!out.Put(text_.data() + done, i - done) ||
                (!drop && !out.Put(line ? "\n" : " ", 1)))
                return false;
            done = end;
        }
        i = end;
    }
    return out.Put(text_.data() + done, to - done);
}

}  // namespace qm
