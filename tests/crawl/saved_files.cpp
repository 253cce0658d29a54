#include "saved_files.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#  include <windows.h>
#else
#  include <unistd.h>
#endif

namespace qmtest {

namespace {
std::atomic<int> g_sandboxCount{0};

int ProcessId() {
#ifdef _WIN32
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

std::string PercentDecoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool HasScheme(const std::string& v) {
    size_t colon = v.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i)
        if (!std::isalnum(static_cast<unsigned char>(v[i])) && v[i] != '+' && v[i] != '-' && v[i] != '.')
            return false;
    return std::isalpha(static_cast<unsigned char>(v[0])) != 0;
}

// The values that follow each `opener` in `text`, read as a browser reads an attribute or
// a CSS url(): optional white space and quote, up to the closing quote or a delimiter.
void CollectValues(const std::string& text, const std::string& lowerText, const std::string& opener,
                   std::vector<std::string>* values) {
    for (size_t at = lowerText.find(opener); at != std::string::npos;
         at = lowerText.find(opener, at + 1)) {
        size_t i = at + opener.size();
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        char quote = 0;
        if (i < text.size() && (text[i] == '"' || text[i] == '\'')) quote = text[i++];
        size_t end = i;
        while (end < text.size() &&
               (quote ? text[end] != quote
                      : !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != '>' &&
                            text[end] != ')'))
            ++end;
        values->push_back(text.substr(i, end - i));
    }
}

std::string Unescaped(std::string v) {
    for (size_t at = v.find("&amp;"); at != std::string::npos; at = v.find("&amp;", at + 1))
        v.replace(at, 5, "&");
    return v;
}

}  // namespace

Sandbox::Sandbox() {
    root_ = fs::temp_directory_path() /
            ("qm-crawl-" + std::to_string(ProcessId()) + "-" + std::to_string(g_sandboxCount++));
    fs::remove_all(root_);
    fs::create_directories(root_);
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string Sandbox::Path(const std::string& name) const {
    std::string path = root_.string();
    return name.empty() ? path : path + "\\" + name;
}

fs::path SystemPath(const std::string& libraryPath) {
#ifdef _WIN32
    return fs::path(libraryPath);
#else
    std::string s = libraryPath;
    std::replace(s.begin(), s.end(), '\\', '/');
    return fs::path(s);
#endif
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string rel = fs::relative(entry.path(), root).generic_string();
        files.push_back(rel);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> BrokenReferences(const fs::path& page) {
    std::string text = ReadFile(page);
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::vector<std::string> values;
    for (const char* opener : {"src=", "href=", "url("}) CollectValues(text, lower, opener, &values);

    std::vector<std::string> broken;
    for (const std::string& raw : values) {
        std::string v = Unescaped(raw);
        if (v.empty() || v[0] == '#' || HasScheme(v)) continue;
        std::string file = PercentDecoded(v.substr(0, v.find_first_of("#?")));
        fs::path target = page.parent_path() / fs::path(file).make_preferred();
        if (!fs::is_regular_file(target)) broken.push_back(raw);
    }
    return broken;
}

std::string LocalHost(uint16_t port) { return "127.0.0.1-" + std::to_string(port); }

std::vector<Report>& Reports() {
    static std::vector<Report> reports;
    return reports;
}

void QM_CALLBACK RecordReport(int32_t index, const PageRecord* record) {
    Reports().push_back({index, *record});
}

}  // namespace qmtest
