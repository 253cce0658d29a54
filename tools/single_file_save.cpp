#include "single_file_save.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cctype>
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

// An address split where a relative one is read against it: its scheme and host, its path's
// folders, and the rest (the last name, the query).
struct Address {
    std::string origin;
    std::vector<std::string> folders;
    std::string rest;
};

Address Split(const std::string& url) {
    Address a;
    const size_t scheme = url.find("://");
    const size_t path = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
    if (path == std::string::npos) {
        a.origin = url;
        return a;
    }
    a.origin = url.substr(0, path);
    const size_t query = url.find('?', path);
    const size_t last = url.rfind('/', query == std::string::npos ? url.size() : query);
    for (size_t at = path + 1; at <= last; at = url.find('/', at) + 1)
        a.folders.push_back(url.substr(at, url.find('/', at) - at));
    a.rest = url.substr(last + 1);
    return a;
}

// `url` as a page at `pageUrl` names it relatively, where it is on the page's own site.
std::string RelativeTo(const std::string& pageUrl, const std::string& url) {
    const Address page = Split(pageUrl), target = Split(url);
    if (page.origin != target.origin || page.origin.empty()) return url;
    size_t same = 0;
    while (same < page.folders.size() && same < target.folders.size() &&
           page.folders[same] == target.folders[same])
        ++same;
    std::string name;
    for (size_t i = same; i < page.folders.size(); ++i) name += "../";
    for (size_t i = same; i < target.folders.size(); ++i) name += target.folders[i] + "/";
    return name + target.rest;
}

// The extension of the last name of `url`'s path, with its dot, when it is a plain one.
std::string ExtensionOf(const std::string& url) {
    const std::string rest = Split(url).rest;
    const std::string name = rest.substr(0, rest.find('?'));
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot > 9) return "";
    for (size_t i = dot + 1; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return "";
    return name.substr(dot);
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

bool SingleFileSave::ScriptLoads(const std::string& pageUrl,
                                 const std::vector<std::pair<std::string, std::string>>& bodies) {
    std::error_code error;
    const std::string folder = folder_ + "/~loads";
    fs::create_directories(folder, error);
    std::vector<Load>& loads = loads_[pageUrl];
    for (const auto& [url, bytes] : bodies) {
        const std::string file = folder + "/" + std::to_string(++loadFiles_) + ExtensionOf(url);
        std::ofstream out(file, std::ios::binary);
        if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
            !(out.close(), out))
            return false;
        loads.push_back({RelativeTo(pageUrl, url), file});
    }
    return true;
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
            std::vector<const char*> names, files;
            const auto url = urls_.find(page);
            const auto loads = url == urls_.end() ? loads_.end() : loads_.find(url->second);
            if (loads != loads_.end())
                for (const Load& load : loads->second) {
                    names.push_back(load.name.c_str());
                    files.push_back(load.file.c_str());
                }
            written = qm_WriteSingleFile(folder_.c_str(), path.c_str(), target.c_str(),
                                         kMostSingleFileBytes, names.data(), files.data(),
                                         static_cast<int32_t>(names.size())) == 1;
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
