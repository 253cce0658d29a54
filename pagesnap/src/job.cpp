#include "job.h"

#include <cstring>

namespace pagesnap {

namespace {

constexpr std::size_t kSeparatorLength = sizeof(kJobSeparator) - 1;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsSchemeChar(char c) {
    return IsAsciiAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

}  // namespace

bool ParseJob(const char* block, std::size_t size, Job* job) {
    const void* nul = std::memchr(block, '\0', size);
    const std::string text(block, nul ? static_cast<const char*>(nul) - block : size);
    const std::size_t first = text.find(kJobSeparator);
    if (first == std::string::npos) return false;
    const std::size_t pathStart = first + kSeparatorLength;
    const std::size_t second = text.find(kJobSeparator, pathStart);
    if (second == std::string::npos) return false;
    job->url = text.substr(0, first);
    job->path = text.substr(pathStart, second - pathStart);
    return true;
}

UrlCheck NormaliseUrl(const std::string& typed, std::string* url) {
    std::size_t begin = 0, end = typed.size();
    while (begin < end && IsBlank(typed[begin])) ++begin;
    while (end > begin && IsBlank(typed[end - 1])) --end;
    const std::string text = typed.substr(begin, end - begin);
    if (text.empty()) return UrlCheck::kEmpty;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return UrlCheck::kControlCharacter;
    }

    // Only "scheme://" counts as a scheme: "localhost:8080/x" is a host with a port.
    std::size_t i = 0;
    if (IsAsciiAlpha(text[0])) {
        while (i < text.size() && IsSchemeChar(text[i])) ++i;
    }
    if (i > 0 && text.compare(i, 3, "://") == 0) {
        const std::string scheme = text.substr(0, i);
        if (!EqualsIgnoringCase(scheme, "http") && !EqualsIgnoringCase(scheme, "https")) {
            return UrlCheck::kUnsupportedScheme;
        }
        *url = text;
    } else {
        *url = "http://" + text;
    }
    return UrlCheck::kOk;
}

const char* DescribeUrlCheck(UrlCheck check) {
    switch (check) {
        case UrlCheck::kOk: return "the address is fine";
        case UrlCheck::kEmpty: return "the job holds no address";
        case UrlCheck::kControlCharacter: return "the address holds control characters";
        case UrlCheck::kUnsupportedScheme:
            return "only http:// and https:// addresses can be rendered";
    }
    return "the address is not usable";
}

bool IsFullWindowsPath(const std::string& path) {
    if (path.size() >= 3 && IsAsciiAlpha(path[0]) && path[1] == ':' &&
        (path[2] == '\\' || path[2] == '/')) {
        return true;
    }
    return path.size() >= 5 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\' &&
           path.find('\\', 2) != std::string::npos;
}

std::string JobLogPath(const Job& job) {
    return IsFullWindowsPath(job.path) ? job.path + ".log" : std::string();
}

}  // namespace pagesnap
