#include "saved_files.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>

#ifdef _WIN32
#  include <process.h>
#else
#  include <unistd.h>
#endif

namespace qmtest {

Sandbox::Sandbox() {
    static int count = 0;
    // CTest may run the cases of one program side by side: each process has its own folders.
    root_ = fs::temp_directory_path() /
            ("qm-crawl-" + std::to_string(getpid()) + "-" + std::to_string(count++));
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
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> BrokenReferences(const fs::path& page) {
    // A value as a browser reads an attribute or a CSS url(): in quotes, or up to white
    // space, '>' or ')'.
    static const std::regex kValue(
        R"re((?:src=|href=|url\()\s*(?:"([^"]*)"|'([^']*)'|([^\s>)]*)))re", std::regex::icase);
    static const std::regex kScheme("^[A-Za-z][A-Za-z0-9+.-]*:");
    static const std::regex kEscape("%([0-9A-Fa-f]{2})");
    const std::string text = ReadFile(page);
    std::vector<std::string> broken;
    for (std::sregex_iterator m(text.begin(), text.end(), kValue), end; m != end; ++m) {
        std::string raw = (*m)[1].matched ? (*m)[1] : (*m)[2].matched ? (*m)[2] : (*m)[3];
        std::string v = std::regex_replace(raw, std::regex("&amp;"), "&");
        if (v.empty() || v[0] == '#' || std::regex_search(v, kScheme)) continue;
        // The file the browser opens: without query and fragment, escapes decoded.
        std::string name = v.substr(0, v.find_first_of("#?")), file;
        for (std::smatch e; std::regex_search(name, e, kEscape); name = e.suffix())
            file += e.prefix().str() + static_cast<char>(std::stoi(e[1], nullptr, 16));
        file += name;
        if (!fs::is_regular_file(page.parent_path() / fs::path(file).make_preferred()))
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
    : thread_([this, &server, target] {
          auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
          while (!done_ && std::chrono::steady_clock::now() < deadline) {
              auto t = server.RequestedTargets();
              if (std::find(t.begin(), t.end(), target) != t.end()) {
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
