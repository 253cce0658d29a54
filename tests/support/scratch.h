// Scratch folders, whole files and polling waits for tests, natively and under Wine.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace qmtest {

// Polls `done` until it holds or `ms` milliseconds have passed; its last result.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder, deleted with its files. Cases run side by side, also from two test trees at
// once: each folder of each process has a name of its own.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix) {
        static const auto run = std::chrono::steady_clock::now().time_since_epoch().count();
        static int count = 0;
        root_ = std::filesystem::temp_directory_path() /
                (prefix + "-" + std::to_string(run) + "-" + std::to_string(count++));
        std::filesystem::create_directories(root_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Root() const { return root_; }

private:
    std::filesystem::path root_;
};

#ifndef _WIN32
// A scratch folder that TMPDIR names while it lives: where a browser started meanwhile keeps
// its profile and temporary files.
class BrowserTemporaries : public ScratchFolder {
public:
    BrowserTemporaries() : ScratchFolder("qm-browser-temp") {
        const char* before = std::getenv("TMPDIR");
        before_ = before ? before : "";
        setenv("TMPDIR", Root().c_str(), 1);
    }
    ~BrowserTemporaries() {
        if (before_.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", before_.c_str(), 1);
    }
    bool AllGone() const { return std::filesystem::is_empty(Root()); }

private:
    std::string before_;
};
#endif

// A scratch folder the library takes paths in with a backslash, as callers on Windows write them.
class Sandbox : public ScratchFolder {
public:
    explicit Sandbox(const std::string& prefix = "qm-save") : ScratchFolder(prefix) {}
    std::string Path(const std::string& name = "") const {
        return name.empty() ? Root().string() : Root().string() + "\\" + name;
    }
};

// Every file below `root` (with `folders`, every folder too), relative to it, with '/'
// between folders, sorted.
inline std::vector<std::string> FilesBelow(const std::filesystem::path& root,
                                           bool folders = false) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (folders || entry.is_regular_file())
            files.push_back(std::filesystem::relative(entry.path(), root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

// How many entries stand directly in `folder`.
inline long EntryCount(const std::filesystem::path& folder) {
    return static_cast<long>(std::distance(std::filesystem::directory_iterator(folder),
                                           std::filesystem::directory_iterator()));
}

// The host part of a saved item's local name for a server on loopback: "127.0.0.1-<port>".
inline std::string LocalHost(uint16_t port) { return "127.0.0.1-" + std::to_string(port); }

}  // namespace qmtest
