#include "driver.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <stdexcept>

#include "gui_ids.h"

namespace gui {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (pred()) return true;
        if (GetTickCount64() >= deadline) return pred();
        Sleep(20);
    }
}

std::wstring Text(HWND window) {
    wchar_t buffer[2048] = {};
    // WM_GETTEXT reaches into the other process; GetWindowText would not for controls.
    SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::wstring ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

void SetItemText(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

namespace {

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"qm_gui_" + name;
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(m_path); }

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write a test file");
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// Under Wine on a bare X server no window manager answers when a managed window closes, and
// Wine waits two seconds for it each time. The program's windows need no managing.
void UnmanagedWindowsUnderWine() {
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return;
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const wchar_t no[] = L"N";
        RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof(no));
        RegCloseKey(key);
    }
}

void EndChildrenOf(DWORD parent) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent) continue;
        if (HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
            TerminateProcess(child, 1);
            WaitForSingleObject(child, kDeadlineMs);
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
}

}  // namespace

App::App(const std::wstring& folder) {
    UnmanagedWindowsUnderWine();
    const std::wstring program = folder + L"\\qmApp.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &m_process)) {
        throw std::runtime_error("cannot start qmApp.exe");
    }
    m_main = WaitForTop(L"Quillon");
    if (!m_main) throw std::runtime_error("the main window did not open");
}

App::~App() {
    if (!Exited()) {
        TerminateProcess(m_process.hProcess, 1);
        WaitForSingleObject(m_process.hProcess, kDeadlineMs);
    }
    // The renderers it started, which only its own Exit would have ended.
    EndChildrenOf(m_process.dwProcessId);
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

namespace {

struct TopSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TopSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> App::TopWindows() const {
    TopSearch search{m_process.dwProcessId, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND App::FindTop(const std::wstring& caption, HWND except) const {
    for (HWND window : TopWindows()) {
        if (window != except && Text(window) == caption) return window;
    }
    return nullptr;
}

HWND App::WaitForTop(const std::wstring& caption, HWND except, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTop(caption, except)) != nullptr; }, timeoutMs);
    return found;
}

HWND App::WaitForDialogWith(int id) const {
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND window : TopWindows()) {
            if (GetDlgItem(window, id)) return (found = window) != nullptr;
        }
        return false;
    });
    return found;
}

HWND App::FindMessageBox() const {
    for (HWND window : TopWindows()) {
        wchar_t className[64] = {};
        GetClassNameW(window, className, 64);
        if (std::wstring(className) == L"#32770" && GetDlgItem(window, 0xFFFF)) return window;
    }
    return nullptr;
}

HWND App::WaitForMessageBox(DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindMessageBox()) != nullptr; }, timeoutMs);
    return found;
}

App::Box App::TakeMessageBox(DWORD timeoutMs) const {
    Box box;
    HWND window = WaitForMessageBox(timeoutMs);
    if (!window) {
        box.caption = L"<no message box>";
        return box;
    }
    box.caption = Text(window);
    box.text = ItemText(window, 0xFFFF);
    Click(window, IDOK);
    WaitUntil([&] { return !IsWindow(window); });
    return box;
}

void App::Settle() const {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(m_main, WM_NULL, 0, 0, SMTO_NORMAL, kDeadlineMs, &ignored);
}

bool App::WaitIdle(DWORD timeoutMs) const {
    return WaitUntil([&] { return Idle(); }, timeoutMs);
}

bool App::ClosedQuietly(HWND window) const {
    if (!WaitUntil([&] { return !IsWindow(window); })) return false;
    Settle();
    return FindMessageBox() == nullptr && WaitIdle();
}

// The browser may still be filling its tree when it shows, so the choice is made again
// until its edit box names the folder.
bool App::PickFolder(const std::wstring& folder) const {
    HWND browser = WaitForTop(kFolderCaption);
    if (!browser) return false;
    const std::wstring leaf = folder.substr(folder.find_last_of(L'\\') + 1);
    const bool chosen = WaitUntil(
        [&] { return SelectFolder(browser, folder) && ItemText(browser, kFolderEdit) == leaf; });
    Click(browser, chosen ? IDOK : IDCANCEL);
    return chosen;
}

// As clicking through the tree would: Wine's browser takes no typed path, so the selection
// message goes to it with the path placed in the program's memory.
bool App::SelectFolder(HWND browser, const std::wstring& folder) const {
    const SIZE_T bytes = (folder.size() + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(m_process.hProcess, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (!remote) return false;
    bool selected = false;
    if (WriteProcessMemory(m_process.hProcess, remote, folder.c_str(), bytes, nullptr)) {
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
        selected = true;
    }
    VirtualFreeEx(m_process.hProcess, remote, 0, MEM_RELEASE);
    return selected;
}

bool App::WaitForExit(DWORD timeoutMs) const {
    return WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

bool App::Exited() const { return WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0; }

}  // namespace gui
