#include "saved_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <cctype>
#include <cstring>
#include <sstream>

namespace qmtest {

std::string RunTag() {
    // Two test trees may run on one machine at once: each process has folders of its own.
    static const std::string tag =
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
    return tag;
}

Sandbox::Sandbox() {
    static int count = 0;
    // CTest may run the cases of one program side by side: each case has its own folders.
    root_ =
        fs::temp_directory_path() /
        (std::string("qm-crawl-") + testing::UnitTest::GetInstance()->current_test_info()->name() +
         "-" + RunTag() + "-" + std::to_string(count++));
    fs::remove_all(root_);
    fs::create_directories(root_);
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string Sandbox::Path(const std::string& name) const {
    return name.empty() ? root_.string() : root_.string() + "\\" + name;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.push_back(fs::relative(entry.path(), root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

bool IsIn(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

// The values that follow src=, href= and url( as a browser reads them: in quotes, or up to
// white space, '>' or ')'.
std::vector<std::string> ReferenceValues(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::vector<std::string> values;
    for (std::string opener : {"src=", "href=", "url("}) {
        for (size_t at = lower.find(opener); at != std::string::npos;
             at = lower.find(opener, at + 1)) {
            size_t i = text.find_first_not_of(" \t\r\n", at + opener.size());
            if (i == std::string::npos) continue;
            char quote = IsIn(text[i], "\"'") ? text[i++] : '\0';
            size_t end = quote ? text.find(quote, i) : text.find_first_of(" \t\r\n>)", i);
            values.push_back(text.substr(i, end == std::string::npos ? end : end - i));
        }
    }
    return values;
}

bool HasScheme(const std::string& v) {
    size_t colon = v.find(':');
    return colon != std::string::npos && colon > 0 &&
           std::isalpha(static_cast<unsigned char>(v[0])) &&
           std::all_of(v.begin(), v.begin() + static_cast<long>(colon), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || IsIn(c, "+-.");
           });
}

// The file a browser opens for a reference: without query and fragment, escapes decoded.
std::string FileOf(const std::string& reference) {
    std::string name = reference.substr(0, reference.find_first_of("#?")), file;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() &&
            std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2]))) {
            file += static_cast<char>(std::stoi(name.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            file += name[i];
        }
    }
    return file;
}

}  // namespace

std::vector<std::string> BrokenReferences(const fs::path& page) {
    std::vector<std::string> broken;
    for (const std::string& raw : ReferenceValues(ReadFile(page))) {
        std::string v = raw;
        for (size_t at; (at = v.find("&amp;")) != std::string::npos;) v.replace(at, 5, "&");
        if (v.empty() || v[0] == '#' || HasScheme(v)) continue;
        if (!fs::is_regular_file(page.parent_path() / fs::path(FileOf(v)).make_preferred()))
            broken.push_back(raw);
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

StopWhenRequested::StopWhenRequested(const SiteServer& server, const std::string& target)
    : thread_([this, &server, target, before = server.RequestedTargets().size()] {
          auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
          while (!done_ && std::chrono::steady_clock::now() < deadline) {
              auto t = server.RequestedTargets();
              // Only requests of the call about to run count, not those of an earlier one.
              if (std::find(t.begin() + static_cast<long>(before), t.end(), target) != t.end()) {
                  qm_StopSave();
                  return;
              }
              std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
      }) {}

StopWhenRequested::~StopWhenRequested() {
    done_ = true;
    thread_.join();
}

}  // namespace qmtest
