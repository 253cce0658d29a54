// Scratch folders, whole files and polling waits for tests, natively and under Wine.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace qmtest {

// Polls `done` until it holds or `seconds` have passed; its last result.
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
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

}  // namespace qmtest
