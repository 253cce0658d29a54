#include "single_file_save.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "qm_url.h"

namespace qmsave {
namespace {

namespace fs = std::filesystem;

// The library's path as this system writes it.
std::string SystemPath(const std::string& path) {
    std::string s = path;
#ifndef _WIN32
    for (char& c : s)
        if (c == '\\') c = '/';
#endif
    return s;
}

bool IsHtmlName(const std::string& path) {
    const size_t dot = path.find_last_of("./\\");
    if (dot == std::string::npos || path[dot] != '.') return false;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == "html" || extension == "htm";
}

std::string g_reason;  // the last reason the library gave for a single file not written

void QM_CALLBACK KeepReason(int32_t, const PageRecord*, const char*, const char* reason) {
    g_reason = reason;
}

}  // namespace

SingleFileSave::~SingleFileSave() {
    if (folder_.empty()) return;
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

bool SingleFileSave::Begin(const std::string& target) {
    target_ = target;
    const size_t cut = target.find_last_of("/\\");
    const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
    const std::string name = target.substr(cut == std::string::npos ? 0 : cut + 1);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char made[16];
        std::snprintf(made, sizeof made, "~qmsf%04x", static_cast<unsigned>(random() & 0xffff));
        std::error_code error;
        if (!folder.empty()) fs::create_directories(folder, error);
        if (fs::create_directory(folder + made, error)) {
            folder_ = folder + made;
            savePath_ = folder_ + "/" + name;
            return true;
        }
        if (error) return false;
    }
    return false;
}

SingleFileSave::Outcome SingleFileSave::Write() {
    Outcome outcome;
    const size_t cut = target_.find_last_of("/\\");
    const std::string targetFolder = cut == std::string::npos ? std::string() : target_.substr(0, cut + 1);
    qm_SetFailureCallback(KeepReason);
    for (const std::string& page : pages_) {
        const std::string path = SystemPath(page);
        std::error_code error;
        if (!fs::is_regular_file(path, error)) continue;  // reported as failed by the save
        const bool start = path == SystemPath(savePath_);
        if (path.size() <= folder_.size() + 1 || path.compare(0, folder_.size(), folder_) != 0)
            continue;
        const std::string below = path.substr(folder_.size() + 1);
        const std::string target = start ? target_ : targetFolder + below;
        bool written;
        g_reason = "file could not be written";
        if (!start) fs::create_directories(fs::path(target).parent_path(), error);
        if (start || IsHtmlName(path)) {
            written = qm_WriteSingleFile(folder_.c_str(), path.c_str(), target.c_str(),
                                         kMostSingleFileBytes) == 1;
        } else {
            // A linked file that is no page: it goes beside the pages as it is.
            fs::rename(path, target, error);
            written = !error;
        }
        if (start) outcome.startPage = written;
        if (!written) {
            if (!start) ++outcome.failed;
            std::fprintf(stderr, "qmsave: could not write the single file %s: %s\n",
                         target.c_str(), g_reason.c_str());
        }
    }
    qm_SetFailureCallback(nullptr);
    return outcome;
}

}  // namespace qmsave
