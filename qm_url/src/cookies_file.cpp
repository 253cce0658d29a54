#include "cookies_file.h"

#include <algorithm>
#include <vector>

#include "ascii.h"
#include "set_cookie.h"

namespace qm {
namespace {

constexpr char kHttpOnlyPrefix[] = "#HttpOnly_";
constexpr size_t kFields = 7;

bool IsTrue(std::string_view field) { return IsWordNoCase(field.data(), field.size(), "TRUE"); }

// Seconds as digits; more than any date needs are cut to a far one.
bool ReadExpiry(std::string_view field, int64_t* seconds) {
    constexpr int64_t kLongest = int64_t{1} << 50;
    if (field.empty()) return false;
    int64_t value = 0;
    for (char c : field) {
        if (!IsDigit(c)) return false;
        value = std::min(value * 10 + (c - '0'), kLongest);
    }
    *seconds = value;
    return true;
}

// The cookie of a line that is neither blank nor a comment: nullptr, or why there is none.
const char* ReadLine(std::string_view line, bool httpOnly, Cookie* cookie) {
    // Tabs in a row count as one, as curl splits the line.
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != '\t') continue;
        if (i > start) fields.push_back(line.substr(start, i - start));
        start = i + 1;
        if (fields.size() > kFields) return "more than 7 fields";
    }
    // A missing path leaves the https flag in its place: the path is then "/".
    if (fields.size() >= 3 &&
        (IsTrue(fields[2]) || IsWordNoCase(fields[2].data(), fields[2].size(), "FALSE")))
        fields.insert(fields.begin() + 2, std::string_view("/"));
    if (fields.size() == kFields - 1) fields.push_back(std::string_view());
    if (fields.size() != kFields) return "not 7 fields separated by tabs";

    std::string_view domain = fields[0];
    if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
    // What is left must be written back the same: no second dot, no '#' that would read as a
    // comment.
    if (domain.empty() || domain.front() == '.' || domain.front() == '#' || HasControl(domain) ||
        domain.find(' ') != std::string_view::npos)
        return "no domain";
    if (fields[2].front() != '/') return "the path does not begin with /";
    int64_t expiry;
    if (!ReadExpiry(fields[4], &expiry)) return "the expiry is not a number of seconds";
    if (HasControl(fields[5]) || HasControl(fields[6]))
        return "a control character in the name or value";

    cookie->domain.clear();
    for (char c : domain) cookie->domain += Lower(c);
    cookie->hostOnly = !IsTrue(fields[1]);
    cookie->path.assign(fields[2]);
    cookie->secure = IsTrue(fields[3]);
    cookie->persistent = expiry != 0;
    cookie->expires = expiry;
    cookie->name.assign(fields[5]);
    cookie->value.assign(fields[6]);
    cookie->httpOnly = httpOnly;
    return nullptr;
}

}  // namespace

void ReadCookiesText(std::string_view text, CookieJar& jar, int64_t now,
                     const SkippedLine& skipped) {
    int32_t number = 0;
    while (!text.empty()) {
        ++number;
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty()) continue;
        bool httpOnly = line.compare(0, sizeof kHttpOnlyPrefix - 1, kHttpOnlyPrefix) == 0;
        if (httpOnly) line.remove_prefix(sizeof kHttpOnlyPrefix - 1);
        else if (line.front() == '#') continue;

        Cookie cookie;
        const char* problem = ReadLine(line, httpOnly, &cookie);
        if (problem == nullptr) {
            switch (jar.Add(std::move(cookie), now)) {
                case CookieJar::Verdict::kKept:
                case CookieJar::Verdict::kExpired: break;
                case CookieJar::Verdict::kPublicSuffix:
                    problem = "a cookie for a public suffix";
                    break;
                case CookieJar::Verdict::kTooLarge:
                    problem = "the name and value are longer than 4096 bytes";
                    break;
                default: problem = "no name"; break;
            }
        }
        if (problem != nullptr && skipped) skipped(number, problem);
    }
}

std::string WriteCookiesText(const CookieJar& jar, int64_t now) {
    std::string text =
        "# Netscape HTTP Cookie File\n"
        "# Written by qm_url: domain, subdomains too, path, https only, expiry (0: this\n"
        "# session only), name and value, separated by tabs.\n"
        "\n";
    for (const Cookie& cookie : jar.All(now)) {
        if (cookie.httpOnly) text += kHttpOnlyPrefix;
        if (!cookie.hostOnly) text += '.';
        text += cookie.domain;
        text += cookie.hostOnly ? "\tFALSE\t" : "\tTRUE\t";
        text += cookie.path;
        text += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
        text += std::to_string(cookie.persistent ? cookie.expires : 0);
        text += '\t';
        text += cookie.name;
        text += '\t';
        text += cookie.value;
        text += '\n';
    }
    return text;
}

}  // namespace qm
