#include "kept_copy.h"

#include <windows.h>

#include <cstdio>

bool KeptCopy::MoveAside(const char* path) {
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;  // nothing to keep
    std::string folder = path;
    folder.erase(folder.find_last_of("\\/:") + 1);  // npos + 1 leaves nothing
    // A short name, so the kept file's path is hardly longer than the page's. The move
    // fails rather than replace a file of that name.
    for (unsigned n = 0; n < 0x10000; n += 0x1f3) {
        char name[16];
        std::snprintf(name, sizeof name, "~qmk%04x", n);
        const std::string aside = folder + name;
        if (MoveFileExA(path, aside.c_str(), 0)) {
            m_path = path;
            m_aside = aside;
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

void KeptCopy::Settle() {
    if (m_aside.empty()) return;
    if (GetFileAttributesA(m_path.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(m_aside.c_str());
    else MoveFileExA(m_aside.c_str(), m_path.c_str(), 0);
    m_aside.clear();
}
