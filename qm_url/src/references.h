// Reading the references of a page or style sheet from its structure: HTML tags with their
// attributes, comments and raw-text elements; CSS url() and @import wherever CSS occurs.
// One linear pass, no document tree; a pure function of the text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qm_url.h"

namespace qm {

// How a value is written where it stands, so that it can be read and written back.
enum ValueContext : uint8_t {
    kInAttribute = 1,       // an HTML attribute value: character references apply
    kInCss = 2,             // CSS: backslash escapes apply
    kInSrcset = 4,          // one candidate of a srcset: no blanks or commas
    kDoubleQuoted = 8,      // an attribute value inside "..."
    kSingleQuoted = 16,     // an attribute value inside '...'
    kCssDoubleQuoted = 32,  // a CSS string inside "..."
    kCssSingleQuoted = 64,  // a CSS string inside '...'
    kNamedInScript = 128,   // a name in a script's string: fetched, never rewritten
};

// The kind of a reference that is rewritten to its address but never fetched (the page
// would lose it otherwise): form actions, link relations we do not save, and the like.
constexpr PageKind kAddressOnly = 0;

// The kind of a value that names the folder a page's scripts build their paths from (rustdoc's
// data-root-path, Sphinx's data-url_root, Javadoc's pathtoroot, MkDocs' base_url): neither
// fetched nor rewritten; the names in the site's scripts are read against it too.
constexpr PageKind kSiteRoot = 255;

// What the element of a reference does with the item, where writing the item into the page
// itself takes more than a new value.
enum class ElementRole : uint8_t {
    kValue,             // the value alone names the item
    kStyleSheetLink,    // the href of a link rel=stylesheet
    kPreloadLink,       // the href of a link that only fetches ahead (preload, modulepreload)
    kScriptSource,      // the src of a script that runs where it stands
    kLateScriptSource,  // the src of a classic script with defer or async: it runs later
    kFrameSource,       // the src of an iframe
    kGetFormAction,     // the action of a form sent with GET: a page, the fields its query
    kImportRule,        // the sheet of a CSS @import
};

struct FoundReference {
    int32_t begin;    // the value's first byte in the text
    int32_t end;      // one past its last byte
    PageKind kind;    // a record kind, or kAddressOnly
    uint8_t context;  // ValueContext flags
    bool base;        // the href of a base element
    ElementRole role = ElementRole::kValue;
    // For a reference in a tag's attribute: the tag from its '<' to one past its '>', and the
    // attribute from its name to one past its value (and closing quote); else -1. For an
    // @import: the rule from its '@' to one past its ';' (or the end of the CSS), and its
    // conditions (the media list, layer(), supports()) between the URL and the ';'.
    int32_t tagBegin = -1, tagEnd = -1;
    int32_t attributeBegin = -1, attributeEnd = -1;
    // A value put together from pieces of the text (a script's name and its extension, apart):
    // read from here, not from the text between begin and end.
    const char* joined = nullptr;
    int32_t joinedLength = 0;
};

// The markup of a page around its references, for a visitor that writes the page anew.
// The attributes of a start tag told to a visitor: its first kMaxAttributes.
constexpr int kMaxAttributes = 32;
struct MarkupAttribute {
    const char* name;  // lower case; empty when longer than any name we know
    size_t nameLength;
    int32_t begin, end;  // the value, without its quotes
    uint8_t quote;       // kDoubleQuoted, kSingleQuoted or 0
};
struct FoundMarkup {
    // Tags, and text between them; CSS (of a style sheet or a style element) between its
    // comments, strings, escapes and URLs, and its comments.
    enum Kind : uint8_t { kStartTag, kEndTag, kText, kCss, kCssComment } kind;
    int32_t begin, end;  // a tag from its '<' to one past its '>'; else the text
    const char* name;    // a tag's name, lower case; empty when longer than any name we know
    size_t nameLength;
    const MarkupAttribute* attributes;  // a start tag's
    int attributeCount;
};

class ReferenceVisitor {
public:
    virtual ~ReferenceVisitor() = default;
    // Whether Markup is to be called: the tags of a page and the text between them that
    // stands outside raw-text elements, and the runs and comments of CSS outside attributes,
    // in the order of the text, after the references of each tag.
    virtual bool WantsMarkup() const { return false; }
    // False ends the reading.
    virtual bool Markup(const FoundMarkup&) { return true; }
    // A reference, in the order of the text. False ends the reading.
    virtual bool Found(const FoundReference& reference) = 0;
    // Asked at least every 64 KiB of text. False ends the reading.
    virtual bool Continue() = 0;
};

// A script is read only for the names of the files it puts together at run time from strings
// ('sync_off.png', `${dir}plus.png`, 'search.js', ("search-index", ".js")): pictures, and
// scripts, data, style sheets and fonts it loads. They are fetched beside it, so that a name
// made from the script's folder, the site's root or a saved picture's path finds them; the
// script is not changed.
enum class TextKind { kHtml, kStyleSheet, kScript };

// Reads `length` bytes of `text` once, handing every reference to `visitor`. False when the
// visitor ended it.
bool ReadReferences(const char* text, int32_t length, TextKind kind, ReferenceVisitor& visitor);

// The URL a value stands for: character references (in attributes) and CSS escapes (in
// CSS) undone, surrounding blanks dropped. `out` receives it NUL-terminated; its length,
// or -1 when it does not fit in `size` bytes.
int32_t DecodeValue(const char* value, int32_t length, uint8_t context, char* out, size_t size);

}  // namespace qm
