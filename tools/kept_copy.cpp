#include "kept_copy.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

enum class Move { kDone, kNameTaken, kFailed };

bool Exists(const std::string& path) {
#ifdef _WIN32
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat s;
    return lstat(path.c_str(), &s) == 0;
#endif
}

// Moves `from` to `to` without ever replacing a file at `to`.
Move MoveWithoutReplacing(const std::string& from, const std::string& to) {
#ifdef _WIN32
    if (MoveFileExA(from.c_str(), to.c_str(), 0)) return Move::kDone;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Move::kNameTaken
                                                                       : Move::kFailed;
#else
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return Move::kDone;
    if (errno == EEXIST) return Move::kNameTaken;
    if (errno != EINVAL && errno != ENOSYS) return Move::kFailed;
    // A file system that cannot refuse to replace: look first.
    if (Exists(to)) return Move::kNameTaken;
    return std::rename(from.c_str(), to.c_str()) == 0 ? Move::kDone : Move::kFailed;
#endif
}

}  // namespace

bool KeptCopy::MoveAside(const std::string& path) {
    if (!Exists(path)) return true;  // nothing to keep
    size_t cut = path.find_last_of("/\\:");
    std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    // A short name, so the kept file's path is hardly longer than the page's.
    for (unsigned n = 0; n < 0x10000; n += 0x1f3) {
        char name[16];
        std::snprintf(name, sizeof name, "~qmk%04x", n);
        std::string aside = folder + name;
        switch (MoveWithoutReplacing(path, aside)) {
            case Move::kDone:
                path_ = path;
                aside_ = aside;
                return true;
            case Move::kNameTaken: continue;
            case Move::kFailed: return false;
        }
    }
    return false;
}

void KeptCopy::Settle() {
    if (aside_.empty()) return;
    if (Exists(path_)) std::remove(aside_.c_str());
    else MoveWithoutReplacing(aside_, path_);
    aside_.clear();
}
