#include "kept_copy.h"

#include <cerrno>
#include <cstdio>

namespace qmsave {
namespace {

bool Exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr || errno != ENOENT;
}

}  // namespace

bool KeptCopy::MoveAside(const std::string& path) {
    size_t cut = path.find_last_of("/\\:");
    std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    // A short name, so the kept file's path is hardly longer than the page's.
    for (unsigned n = 0; n < 0x10000; n += 0x1f3) {
        char name[16];
        std::snprintf(name, sizeof name, "~qmk%04x", n);
        std::string aside = folder + name;
        if (Exists(aside)) continue;
        if (std::rename(path.c_str(), aside.c_str()) == 0) {
            path_ = path;
            aside_ = aside;
            return true;
        }
        return errno == ENOENT;  // nothing to keep, or it cannot be moved
    }
    return false;
}

void KeptCopy::Settle() {
    if (aside_.empty()) return;
    if (Exists(path_)) std::remove(aside_.c_str());
    else std::rename(aside_.c_str(), path_.c_str());
    aside_.clear();
}

}  // namespace qmsave
