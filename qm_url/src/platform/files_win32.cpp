// The library's paths on Windows: folders made through the shell, files through the kernel.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/temp_name.h"

namespace qm::platform {
namespace {

// The shell calls want full paths; a relative one names a place under the current folder.
// Room for a path longer than MAX_PATH, so such a path fails in the call that uses it.
struct FullPath {
    char text[MAX_PATH * 2];
    bool ok;
    explicit FullPath(const char* path) {
        DWORD n = GetFullPathNameA(path, sizeof text, text, nullptr);
        ok = n > 0 && n < sizeof text;
        if (!ok) text[0] = '\0';
    }
};

bool WriteAll(HANDLE file, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Deletes a file, a read-only one too.
bool DeleteOneFile(const std::string& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileA(path.c_str()) != 0;
}

// Deletes the folder `path` and everything below it, one entry at a time through the
// kernel's own calls (no shell: this also runs while the library is unloaded). A link or
// junction is removed as an entry, never entered.
bool DeleteFolder(const std::string& path) {
    bool ok = true;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const char* name = found.cFileName;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            std::string entry = path + "\\" + name;
            DWORD a = found.dwFileAttributes;
            if (!(a & FILE_ATTRIBUTE_DIRECTORY)) ok = DeleteOneFile(entry, a) && ok;
            else if (a & FILE_ATTRIBUTE_REPARSE_POINT) ok = RemoveDirectoryA(entry.c_str()) && ok;
            else ok = DeleteFolder(entry) && ok;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(path.c_str()) != 0 && ok;
}

}  // namespace

void CreateFoldersFor(const char* filePath) {
    FullPath full(filePath);
    if (!full.ok) return;
    // Makes every folder on the path, the last one too; that last, empty one is then
    // removed again, so the file can be created in its place.
    SHCreateDirectoryExA(nullptr, full.text, nullptr);
    RemoveDirectoryA(full.text);
}

bool FileExists(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool WriteFileAtomically(const char* path, const char* data, size_t size) {
    const char* cut = nullptr;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') cut = p + 1;
    size_t folderLength = cut ? static_cast<size_t>(cut - path) : 0;

    char temp[MAX_PATH * 2];
    if (folderLength + 8 >= sizeof temp) return false;
    std::memcpy(temp, path, folderLength);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 64 && file == INVALID_HANDLE_VALUE; ++attempt) {
        char name[16];
        TempName(attempt, name);
        std::snprintf(temp + folderLength, sizeof temp - folderLength, "%s", name);
        file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (file == INVALID_HANDLE_VALUE) return false;

    bool ok = WriteAll(file, data, size);
    ok = CloseHandle(file) && ok;
    ok = ok && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(temp);
    return ok;
}

bool TempFile::Create(const char* finalPath) {
    Remove();
    const char* cut = nullptr;
    for (const char* p = finalPath; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') cut = p + 1;
    size_t folderLength = cut ? static_cast<size_t>(cut - finalPath) : 0;
    char temp[MAX_PATH * 2];
    if (folderLength + 8 >= sizeof temp) return false;
    std::memcpy(temp, finalPath, folderLength);
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        char name[16];
        TempName(attempt, name);
        std::snprintf(temp + folderLength, sizeof temp - folderLength, "%s", name);
        // Readable while it is written: a page is read back from it to be scanned.
        HANDLE file = CreateFileA(temp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<intptr_t>(file);
            path_ = temp;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

bool TempFile::Append(const char* data, size_t size) {
    return handle_ != kNoHandle && WriteAll(reinterpret_cast<HANDLE>(handle_), data, size);
}

bool TempFile::RenameTo(const char* path) {
    if (handle_ == kNoHandle) return false;
    bool ok = CloseHandle(reinterpret_cast<HANDLE>(handle_)) != 0;
    handle_ = kNoHandle;
    ok = ok && MoveFileExA(path_.c_str(), path, MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(path_.c_str());
    path_.clear();
    return ok;
}

void TempFile::Remove() {
    if (handle_ == kNoHandle) return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    DeleteFileA(path_.c_str());
    handle_ = kNoHandle;
    path_.clear();
}

bool DeleteTree(const char* path) {
    FullPath full(path);
    if (!full.ok || GetFileAttributesA(full.text) == INVALID_FILE_ATTRIBUTES) return false;
    return DeleteFolder(full.text);
}

bool RenameToNew(const char* from, const char* to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
    return MoveFileExA(from, to, 0) != 0;
}

int64_t FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                data.nFileSizeLow);
}

int64_t FileWrittenAt(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return -1;
    // FILETIME counts 100 ns steps from 1601.
    const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000u) - int64_t{11644473600};
}

bool SetFileWrittenAt(const char* path, int64_t unixSeconds) {
    HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds + int64_t{11644473600}) * 10000000u;
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(ticks);
    written.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const bool ok = SetFileTime(file, nullptr, nullptr, &written) != 0;
    CloseHandle(file);
    return ok;
}

bool ReadFileInPieces(const char* path, const std::function<bool(const char*, size_t)>& take) {
    // A temporary file is read back while its writer still holds it open.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string block(65536, '\0');
    DWORD n = 0;
    bool ok = false, taken = true;
    while (taken &&
           (ok = ReadFile(file, &block[0], static_cast<DWORD>(block.size()), &n, nullptr) != 0) &&
           n > 0)
        taken = take(block.data(), n);
    CloseHandle(file);
    return ok && taken;
}

}  // namespace qm::platform
