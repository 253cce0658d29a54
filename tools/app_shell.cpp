#include "app_shell.h"

#include <cctype>
#include <cstring>
#include <string>

namespace qmsave {

namespace {

// Less text than this to read, in letters and digits, is little.
constexpr size_t kLittleText = 64;

bool StartsWithNoCase(const char* p, const char* end, const char* word) {
    for (; *word != '\0'; ++p, ++word)
        if (p == end || std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
    return true;
}

// The element name at `p` (after '<' or "</"), in lower case.
std::string NameAt(const char* p, const char* end) {
    std::string name;
    while (p < end && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '-') &&
           name.size() < 32)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
    return name;
}

// Whether the start tag from `open` to `close` (its '>') has an id attribute: the root an
// application fills has one, or is a custom element.
bool HasId(const char* open, const char* close) {
    for (const char* p = open; p + 3 < close; ++p)
        if (std::isspace(static_cast<unsigned char>(*p)) && StartsWithNoCase(p + 1, close, "id") &&
            (p[3] == '=' || std::isspace(static_cast<unsigned char>(p[3]))))
            return true;
    return false;
}

}  // namespace

bool LooksLikeAppShell(const char* text, size_t length) {
    const char* p = text;
    const char* const end = text + length;
    size_t readable = 0;
    bool script = false, emptyRoot = false, asksForScripts = false, links = false;
    std::string unread;   // the element whose content is not read, until its end tag
    bool inBody = false;  // the body has begun, and its first element not yet come
    std::string root;     // the body's first element, while nothing but blanks follow it
    bool blankSince = false;
    while (p < end) {
        // Inside what is not read, only its own end tag is markup.
        if (*p != '<' || (!unread.empty() && !(p + 1 < end && p[1] == '/' &&
                                               StartsWithNoCase(p + 2, end, unread.c_str())))) {
            if (unread == "noscript" && StartsWithNoCase(p, end, "javascript"))
                asksForScripts = true;
            if (!std::isspace(static_cast<unsigned char>(*p))) {
                blankSince = false;
                if (unread.empty() && std::isalnum(static_cast<unsigned char>(*p))) ++readable;
            }
            ++p;
            continue;
        }
        const char* close = static_cast<const char*>(std::memchr(p, '>', end - p));
        if (close == nullptr) break;
        const char* open = p;
        const bool endTag = p + 1 < end && p[1] == '/';
        const std::string name = NameAt(p + (endTag ? 2 : 1), close);
        p = close + 1;
        if (!unread.empty()) {
            if (name == unread) unread.clear();
            continue;
        }
        if (endTag) {
            if (!root.empty() && name == root && blankSince) emptyRoot = true;
            root.clear();
            if (name == "head") inBody = true;
            continue;
        }
        if (name == "script") script = true;
        if (name == "a") links = true;
        const bool unreadElement = name == "script" || name == "style" || name == "template" ||
                                   name == "noscript" || name == "title";
        if (unreadElement) unread = name;
        root.clear();
        if (name == "body") {
            inBody = true;
        } else if (inBody && !unreadElement && name != "link" && name != "meta") {
            inBody = false;
            if ((HasId(open, close) || name.find('-') != std::string::npos) && close[-1] != '/')
                root = name;
        }
        blankSince = true;
    }
    return script && readable < kLittleText && (emptyRoot || (asksForScripts && !links));
}

}  // namespace qmsave
