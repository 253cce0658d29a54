#include "leading_page.h"

#include "bounded_text.h"
#include "platform/files.h"
#include "qm_url.h"
#include "references.h"
#include "scan.h"

namespace qm {
namespace {

// `text` as HTML text or a quoted attribute value.
void AppendEscaped(std::string_view text, std::string& out) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

}  // namespace

std::string LeadingPageText(std::string_view startName, std::string_view url) {
    // Written as every saved page writes a local name: '/' between folders, and %-escapes
    // where a browser would read a character otherwise.
    char area[4 * LOCAL_PATH_SIZE];
    BoundedText link(area);
    AppendValue(startName.data(), startName.size(), true, kInAttribute | kDoubleQuoted, link);
    std::string text =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"refresh\" content=\"0; url=";
    text += link.c_str();
    text += "\">\n<title>";
    AppendEscaped(url, text);
    text += "</title></head>\n<body><p>The saved copy of ";
    AppendEscaped(url, text);
    text += " is <a href=\"";
    text += link.c_str();
    text += "\">";
    std::string shown(startName);
    for (char& c : shown)
        if (c == '\\') c = '/';
    AppendEscaped(shown, text);
    text += "</a>.</p></body></html>\n";
    return text;
}

bool WriteLeadingPage(const char* path, std::string_view startName, std::string_view url) {
    const std::string text = LeadingPageText(startName, url);
    return platform::WriteFileAtomically(path, text.data(), text.size());
}

}  // namespace qm
