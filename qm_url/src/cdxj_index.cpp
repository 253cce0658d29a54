#include "cdxj_index.h"

#include <algorithm>
#include <cstdio>

#include "ascii.h"

namespace qm {
namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// `text` as a JSON string.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The value of the header field `name` in `head`, up to a ';', trimmed; "" when absent.
std::string FieldOf(const std::string& head, const char* name) {
    const size_t nameLength = std::char_traits<char>::length(name);
    for (size_t line = head.find("\r\n"); line != std::string::npos && line + 2 < head.size();) {
        const size_t start = line + 2, end = std::min(head.find("\r\n", start), head.size());
        if (end == start) break;  // the header's end
        if (end - start > nameLength && head[start + nameLength] == ':' &&
            EqualNoCase(head.data() + start, name, nameLength)) {
            std::string value = head.substr(start + nameLength + 1, end - start - nameLength - 1);
            value = value.substr(0, value.find(';'));
            const size_t first = value.find_first_not_of(" \t");
            if (first == std::string::npos) return "";
            return value.substr(first, value.find_last_not_of(" \t") - first + 1);
        }
        line = end;
    }
    return "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        const size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

std::string Joined(const std::vector<std::string>& parts, char separator) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) (i > 0 ? text += separator : text) += parts[i];
    return text;
}

}  // namespace

std::string SurtKey(const std::string& url) {
    std::string rest = Lower(url);
    size_t schemeEnd = rest.rfind("http://", 0) == 0 ? 7 : rest.rfind("https://", 0) == 0 ? 8 : 0;
    if (schemeEnd == 0) return url;
    rest = rest.substr(schemeEnd);
    rest = rest.substr(0, rest.find('#'));
    if (rest.rfind("www", 0) == 0) {
        size_t digits = 3;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
        if (digits < rest.size() && rest[digits] == '.') rest = rest.substr(digits + 1);
    }
    const size_t hostEnd = std::min(rest.find_first_of("/?"), rest.size());
    std::string host = rest.substr(0, hostEnd), port;
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
        // The scheme's own port is as none.
        if (port == (schemeEnd == 7 ? "80" : "443")) port.clear();
    }
    std::vector<std::string> labels = Split(host, '.');
    std::reverse(labels.begin(), labels.end());
    std::string key = Joined(labels, ',');
    if (!port.empty()) key += ":" + port;
    std::string path = rest.substr(hostEnd), query;
    const size_t question = path.find('?');
    if (question != std::string::npos) {
        query = path.substr(question + 1);
        path = path.substr(0, question);
    }
    key += ")" + (path.empty() ? std::string("/") : path);
    if (question == std::string::npos) return key;
    std::vector<std::string> arguments = Split(query, '&');
    std::sort(arguments.begin(), arguments.end());
    key += "?" + Joined(arguments, '&');
    return key;
}

void CdxjIndex::Add(const std::string& url, const std::string& warcDate, const std::string& head,
                    const std::string& payloadDigest, int64_t offset, int64_t length) {
    std::string timestamp;
    for (char c : warcDate)
        if (c >= '0' && c <= '9') timestamp += c;
    Entry entry{
        SurtKey(url) + " " + timestamp, url, FieldOf(head, "Content-Type"), "", "", offset, length};
    // "HTTP/1.1 200 OK": the three digits after the first blank.
    const size_t blank = head.find(' ');
    if (blank != std::string::npos && head.size() >= blank + 4)
        entry.status = head.substr(blank + 1, 3);
    entry.digest = payloadDigest.substr(payloadDigest.find(':') + 1);
    entries_.push_back(std::move(entry));
}

std::string CdxjIndex::Text(const std::string& archiveName) const {
    std::vector<const Entry*> sorted;
    for (const Entry& e : entries_) sorted.push_back(&e);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Entry* a, const Entry* b) { return a->key < b->key; });
    std::string text;
    for (const Entry* e : sorted) {
        text += e->key + " {\"url\":" + Json(e->url);
        if (!e->mime.empty()) text += ",\"mime\":" + Json(e->mime);
        if (!e->status.empty()) text += ",\"status\":" + Json(e->status);
        text += ",\"digest\":" + Json(e->digest) + ",\"length\":\"" + std::to_string(e->length) +
                "\",\"offset\":\"" + std::to_string(e->offset) +
                "\",\"filename\":" + Json(archiveName) + "}\n";
    }
    return text;
}

}  // namespace qm
