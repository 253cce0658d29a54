// What the crawl tests share: a private folder per test, the callback's reports, a stop
// from another thread, and the check that saved references all lead somewhere.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qm_url.h"
#include "test_server.h"

namespace qmtest {

namespace fs = std::filesystem;
using Files = std::vector<std::string>;

// A fresh folder of this test under the system's temporary folder, deleted with its files.
class Sandbox {
public:
    Sandbox() {
        // CTest runs the cases side by side, and two test trees may run on one machine at
        // once: each case of each process has folders of its own.
        static const std::string run = std::to_string(
            std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
        static int count = 0;
        root_ = fs::temp_directory_path() /
                ("qm-crawl-" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                 run + "-" + std::to_string(count++));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~Sandbox() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    // A path in the sandbox as the library takes it: `name` joined with a backslash.
    std::string Path(const std::string& name = "") const {
        return name.empty() ? root_.string() : root_.string() + "\\" + name;
    }
    const fs::path& Root() const { return root_; }

private:
    fs::path root_;
};

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Every regular file below `root`, relative to it, with '/' between folders, sorted.
inline Files FilesBelow(const fs::path& root) {
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.push_back(fs::relative(entry.path(), root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

// The references (src=, href=, url() of the pages and style sheets below `root` that are
// neither absolute nor places in their page, and name no saved file once decoded as a
// browser does: "file: reference" each. Empty when every saved reference leads somewhere.
inline Files BrokenReferences(const fs::path& root) {
    // A value as a browser reads it: in quotes, or up to white space, '>' or ')'.
    static const std::regex reference(R"((?:src=|href=|url\()\s*(?:"([^"]*)|'([^']*)|([^\s>)]*)))",
                                      std::regex::icase);
    static const std::regex online("^(#|[a-z][a-z0-9+.-]*:)", std::regex::icase);
    Files broken;
    for (const std::string& page : FilesBelow(root)) {
        if (page.find(".htm") == std::string::npos && page.find(".css") == std::string::npos)
            continue;
        const std::string text = ReadFile(root / page);
        for (std::sregex_iterator m(text.begin(), text.end(), reference), end; m != end; ++m) {
            const std::string raw = (*m)[1].str() + (*m)[2].str() + (*m)[3].str();
            std::string value = raw.substr(0, raw.find_first_of("#?")), file;
            for (size_t at; (at = value.find("&amp;")) != std::string::npos;)
                value.erase(at + 1, 4);
            if (value.empty() || std::regex_search(raw, online)) continue;
            // The file a browser opens: %-escapes decoded.
            for (size_t i = 0; i < value.size(); ++i) {
                bool escape = value[i] == '%' && i + 2 < value.size() &&
                              std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
                              std::isxdigit(static_cast<unsigned char>(value[i + 2]));
                file += escape ? static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16))
                               : value[i];
                if (escape) i += 2;
            }
            if (!fs::is_regular_file((root / page).parent_path() / fs::path(file).make_preferred()))
                broken.push_back(page + ": " + raw);
        }
    }
    return broken;
}

// The host part of a local name for a server on loopback: "127.0.0.1-<port>".
inline std::string LocalHost(uint16_t port) { return "127.0.0.1-" + std::to_string(port); }

// The targets `server` was asked for after its first `before` requests, sorted.
inline Files TargetsSince(const TestServer& server, size_t before = 0) {
    Files targets;
    std::vector<Request> log = server.Log();
    for (size_t i = before; i < log.size(); ++i) targets.push_back(log[i].target);
    std::sort(targets.begin(), targets.end());
    return targets;
}

// What the callback of the running call reported, in order.
struct Report {
    int32_t index;
    PageRecord record;
};

inline std::vector<Report>& Reports() {
    static std::vector<Report> reports;
    return reports;
}

inline void QM_CALLBACK RecordReport(int32_t index, const PageRecord* record) {
    Reports().push_back({index, *record});
}

// Calls qm_StopSave from another thread as soon as `server` is asked for `target` after
// this object was made.
class StopWhenRequested {
public:
    StopWhenRequested(const SiteServer& server, const std::string& target)
        : thread_([this, &server, target, before = server.Log().size()] {
              auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
              while (!done_ && std::chrono::steady_clock::now() < deadline) {
                  Files asked = TargetsSince(server, before);
                  if (std::find(asked.begin(), asked.end(), target) != asked.end()) {
                      qm_StopSave();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          }) {}
    ~StopWhenRequested() {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace qmtest
