#include "winutil_win32.h"

#include <cstdio>
#include <vector>

namespace pagesnap {

std::wstring AnsiToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], n,
                        nullptr, nullptr);
    return utf8;
}

std::string AnsiToUtf8(const std::string& text) { return WideToUtf8(AnsiToWide(text)); }

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadFilePrefix(const std::string& path, std::size_t limit, std::string* text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string data;
    char chunk[4096];
    DWORD got = 0;
    while (data.size() < limit && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        data.append(chunk, got);
    }
    CloseHandle(file);
    if (data.size() > limit) data.resize(limit);
    text->swap(data);
    return true;
}

std::string TailOfFile(const std::string& path, int lines) {
    std::string text;
    if (!ReadFilePrefix(path, 1 << 20, &text)) return std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::size_t start = text.size();
    for (int found = 0; start > 0 && found < lines; --start) {
        if (text[start - 1] == '\n' && ++found == lines) break;
    }
    return text.substr(start);
}

bool RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            const bool isDir = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (isDir && !isLink) {
                RemoveTree(path);
            } else if (isDir) {
                RemoveDirectoryA(path.c_str());
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryA(folder.c_str()) != 0;
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : text.substr(0, slash + 1);
}

std::string TempFolder() {
    char path[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof path, path);
    if (n == 0 || n > MAX_PATH) return ProgramFolder();
    std::string text(path, n);
    if (text.back() != '\\') text.push_back('\\');
    return text;
}

std::string LastErrorText(DWORD error) {
    char* message = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&message), 0, nullptr);
    std::string text = n ? std::string(message, n) : std::string();
    if (message) LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    return text.empty() ? std::string(code) : text + " (" + code + ")";
}

}  // namespace pagesnap
