#include "driver.h"

#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "gui_ids.h"

namespace gui {

namespace fs = std::filesystem;

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
    return fs::path(path).parent_path().wstring();
}

ScratchFolder::ScratchFolder(const std::wstring& name)
    : m_path((fs::temp_directory_path() /
              (L"qm_gui_" + name + L"_" + std::to_wstring(GetCurrentProcessId())))
                 .wstring()) {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
    fs::create_directory(m_path);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

bool FileExists(const std::wstring& path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot write a test file");
    }
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<DWORD> ProcessesWhere(const std::function<bool(const PROCESSENTRY32W&)>& match) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (match(entry)) found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

void EndProcesses(const std::vector<DWORD>& ids) {
    for (DWORD id : ids) {
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, kDeadlineMs);
            CloseHandle(process);
        }
    }
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
    const DWORD pid = m_process.dwProcessId;
    EndProcesses(
        ProcessesWhere([pid](const PROCESSENTRY32W& p) { return p.th32ParentProcessID == pid; }));
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

std::vector<HWND> App::TopWindows() const {
    TopSearch search{m_process.dwProcessId, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND App::FindTopWhere(const std::function<bool(HWND)>& match) const {
    for (HWND window : TopWindows()) {
        if (match(window)) return window;
    }
    return nullptr;
}

HWND App::WaitForTopWhere(const std::function<bool(HWND)>& match, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopWhere(match)) != nullptr; }, timeoutMs);
    return found;
}

HWND App::FindTop(const std::wstring& caption) const {
    return FindTopWhere([&](HWND window) { return Text(window) == caption; });
}

HWND App::WaitForTop(const std::wstring& caption, DWORD timeoutMs) const {
    return WaitForTopWhere([&](HWND window) { return Text(window) == caption; }, timeoutMs);
}

HWND App::WaitForDialogWith(int id) const {
    return WaitForTopWhere([&](HWND window) { return GetDlgItem(window, id) != nullptr; },
                           kDeadlineMs);
}

namespace {
bool IsMessageBox(HWND window) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    return std::wstring(className) == L"#32770" && GetDlgItem(window, 0xFFFF);
}
}  // namespace

HWND App::FindMessageBox() const { return FindTopWhere(IsMessageBox); }

HWND App::WaitForMessageBox(DWORD timeoutMs) const {
    return WaitForTopWhere(IsMessageBox, timeoutMs);
}

Box App::TakeMessageBox(DWORD timeoutMs) const {
    HWND window = WaitForMessageBox(timeoutMs);
    if (!window) return {L"<no message box>", L""};
    const Box box{Text(window), ItemText(window, 0xFFFF)};
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
    const bool written =
        WriteProcessMemory(m_process.hProcess, remote, folder.c_str(), bytes, nullptr);
    if (written) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(m_process.hProcess, remote, 0, MEM_RELEASE);
    return written;
}

bool App::WaitForExit(DWORD timeoutMs) const {
    return WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace gui
