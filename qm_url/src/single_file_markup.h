// What a page written into a single file can do without, its look on a screen unchanged:
// runs of white space between tags where the page's style makes them one blank, the quotes
// around attribute values that read the same without them, the style rules that match no
// element, and the style sheets for print alone.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "references.h"
#include "single_file_outputs.h"

namespace qm {

// Whether the single file writes reference `r` anew (an item inside the page) rather than as
// it stands (a link, an address, a name in a script).
inline bool IsWrittenAnew(const FoundReference& r) {
    return !r.base && r.kind != KIND_PAGE && r.kind != kAddressOnly && r.kind != kSiteRoot &&
           !(r.context & kNamedInScript);
}

// The elements whose white space a page's CSS keeps (white-space: pre and its like): by the
// class or the element name of the last part of the rule's selectors; every element when a
// selector names neither.
struct KeptWhiteSpace {
    // Adds what the rules of `css` keep; text around them (a page's markup) is passed over.
    void AddFromCss(const char* css, size_t length);
    std::set<std::string> names, classes;
    bool everything = false;
};

// Whether a media list (of a media attribute, an @import or an @media rule) asks for print
// alone: each of its queries is for the print type. A single file is read on a screen.
bool IsPrintOnly(const char* media, size_t length);

// What a page's markup, scripts and CSS say about it: the white space its CSS keeps, and the
// classes and ids its elements may have. Without scripts, those of its tags, as far as each
// reads as it stands. A script may give an element any class or id: on a page with scripts
// (or a tag with more attributes than are told), every word of its tags, of the raw text
// between them and of its scripts counts as one. A frame may change the page in ways unknown.
struct PageFacts {
    // Adds a piece of the page's markup, read in the order of the text.
    void Add(const char* text, const FoundMarkup& markup);
    // Adds the raw text after the page's last markup, `text` being the page.
    void Finish(const char* text, size_t length);
    // Adds the words of a script of the page, or of raw text.
    void AddWords(const char* text, size_t length);
    // Whether the rule of CSS `css` holding position `at` can match no element of the page:
    // each of its selectors asks for a class or an id the page may not have, or, `byElement`,
    // for an element.
    bool NeverMatches(const char* css, size_t at, bool byElement = false) const;
    // The same of the rule whose selectors are `length` bytes of CSS from `selectors`.
    bool NoneMatches(const char* selectors, size_t length, bool byElement) const;
    // Of the selectors of a rule, [begin, open) of `css`, those that can match no element
    // where another may: the ranges to drop, each with a comma beside it, in order. None
    // unless each is plain (IsPlainSelector): one a browser refused would void them all.
    std::vector<std::pair<int32_t, int32_t>> UnmatchedSelectors(const char* css, int32_t begin,
                                                                int32_t open, bool byElement) const;

    KeptWhiteSpace kept;
    std::set<std::string> classes, ids;  // lower case
    // The names of its tags, and of the elements a parser adds.
    std::set<std::string> elements{"html", "head", "body", "tbody", "tr", "colgroup", "img"};
    std::set<std::string> words;  // lower case; no more than kMostWords
    // Words that end a string a script may join a number to ("toclevel" in "toclevel" + n):
    // a class or id that is one of them and a number counts as the page's too.
    std::set<std::string> prefixes;
    bool scripted = false;  // the words count as classes and ids
    bool changeable = false;

    static constexpr size_t kMostWords = 1 << 16;
    // The shortest word taken for the beginning of a joined name.
    static constexpr size_t kShortestPrefix = 3;

private:
    // Whether `selector`, read outside brackets and parentheses, names a class, an id or
    // (`byElement`) an element the page may not have.
    bool Missing(const std::string& selector, bool byElement) const;
    bool Has(const std::set<std::string>& names, const std::string& name) const {
        return names.count(name) || (scripted && (words.count(name) || Joined(name)));
    }
    bool Joined(const std::string& name) const;

    bool wordsLost_ = false;  // more than kMostWords
    int32_t read_ = 0;        // the end of the markup read so far
};

// A change to the text of a page or style sheet: a run of text whose blanks are folded, a run
// of CSS whose blanks are folded and those beside its punctuation dropped, an attribute value
// from its opening to its closing quote written without them, or a CSS comment or rule
// dropped.
struct MarkupEdit {
    enum Kind : uint8_t { kFold, kFoldCss, kUnquote, kDrop };
    int32_t begin, end;
    Kind kind;
};

// Finds the edits of a page or style sheet from its markup, read in the order of the text.
// The style sheets for print alone always go: link and style elements, and @media rules. The
// end tag of a p, li, dt or dd goes where the tag right after it ends the element anyway, and
// the type attribute of a script or style element that names what it holds anyway.
class MarkupEdits {
public:
    // With `facts`, the CSS rules that match no element of that page are dropped. Without
    // `compact`, only what is dropped goes: blanks and quotes stay.
    MarkupEdits(const KeptWhiteSpace& kept, const PageFacts* facts, bool compact = true)
        : kept_(kept),
          facts_(facts),
          compact_(compact) {}
    // A tag or text; `found` holds the references read so far.
    void Add(const char* text, const FoundMarkup& markup, const std::vector<FoundReference>& found);
    std::vector<MarkupEdit> Take();

private:
    bool Keeps(const char* text, const FoundMarkup& tag) const;
    void Unquote(const char* text, const FoundMarkup& tag,
                 const std::vector<FoundReference>& found);
    void DropComment(const char* text, const FoundMarkup& comment);
    void FollowRules(const char* text, const FoundMarkup& run);
    void PrintSheet(const char* text, const FoundMarkup& tag);
    void DropDefaultType(const char* text, const FoundMarkup& tag);
    // Drops [begin, end), and with it the rules dropped inside.
    void DropXmlDeclaration(const char* text, const FoundMarkup& run);
    void DropFrom(int32_t begin, int32_t end);

    const KeptWhiteSpace& kept_;
    const PageFacts* facts_;
    const bool compact_;
    std::vector<MarkupEdit> edits_;
    std::vector<MarkupEdit> rules_;  // the rules and elements dropped, in the order of the text
    // The CSS blocks open where the reading stands: where the rule of each begins, its '{',
    // whether it holds a block itself, whether its selectors and those of the rules inside
    // it ask for elements as they stand (HoldsStyleRules); and where the next rule would
    // begin (-1 outside CSS).
    struct Block {
        int32_t rule, open;
        bool holdsBlock, byElement, innerByElement;
    };
    std::vector<Block> blocks_;
    int32_t ruleBegin_ = -1;
    int32_t printStyle_ = -1;  // the start tag of a style element for print, while it lasts
    std::string keeping_;  // the element whose white space is kept, while it lasts
    int depth_ = 0;        // elements of its name open inside it, itself included
    // The end tag just read, of an element whose end a parser may imply from the next tag;
    // and those of these elements whose start tag was read after their last end tag.
    std::string lastEnd_;
    MarkupEdit lastEndTag_{0, 0, MarkupEdit::kDrop};
    std::set<std::string> open_;
};

// Copies a text to an output piece by piece, with its edits made on the way.
class EditedCopy {
public:
    EditedCopy(const std::string& text, std::vector<MarkupEdit> edits);
    // Copies the text from where the copy stands up to `to`.
    bool To(size_t to, Output& out);
    // Passes over the text up to `to`, as written in another form.
    void SkipTo(size_t to) { at_ = std::max(at_, to); }
    size_t at() const { return at_; }
    // Whether position `at` is inside what is dropped.
    bool Dropped(size_t at) const;

private:
    bool Fold(size_t from, size_t to, bool css, Output& out);

    const std::string& text_;
    std::vector<MarkupEdit> edits_;  // all but the drops
    std::vector<MarkupEdit> drops_;  // apart from one another
    size_t next_ = 0;                // the first edit not yet passed
    size_t nextDrop_ = 0;
    size_t at_ = 0;
};

}  // namespace qm
