// Drives the desktop program from outside, as a person would: starts it, finds its windows,
// types into edit boxes, presses buttons and reads message boxes. Every wait polls against
// a deadline.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"  // the program's control ids
#include "scratch.h"

namespace gui {

namespace fs = std::filesystem;

constexpr DWORD kDeadlineMs = 15000;

// The tests' texts are ASCII (other characters become '?').
inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
inline std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

using qmtest::ReadFile;
using qmtest::WaitUntil;
using qmtest::WriteFile;

// WM_GETTEXT reaches into the other process; GetWindowText would not for controls.
inline std::wstring Text(HWND window) {
    wchar_t buffer[2048] = {};
    SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}
inline std::wstring ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
inline void SetItemText(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
// Presses a button without waiting for what it opens.
inline void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The folder of the driver, qmApp.exe and qm_url.dll.
inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path().wstring();
}

// A fresh, empty folder for one test, with the paths the program is given.
class ScratchFolder : public qmtest::ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name)
        : qmtest::ScratchFolder("qm_gui_" + Narrow(name)) {}
    std::wstring path() const { return Root().wstring(); }
    std::wstring operator/(const std::wstring& name) const { return path() + L"\\" + name; }
};

inline bool FileExists(const std::wstring& path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}
inline PROCESS_INFORMATION Start(const std::wstring& program, const std::wstring& folder) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process))
        throw std::runtime_error("cannot start " + Narrow(program));
    return process;
}

// The running processes that match, by id.
inline std::vector<DWORD> ProcessesWhere(const std::function<bool(const PROCESSENTRY32W&)>& match) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        if (match(entry)) found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}
// Ends each of them and waits for it to go.
inline void EndProcesses(const std::vector<DWORD>& ids) {
    for (DWORD id : ids) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        TerminateProcess(process, 1);
        WaitForSingleObject(process, kDeadlineMs);
        if (process) CloseHandle(process);
    }
}

// What a message box showed: its caption and its text.
using Box = std::pair<std::wstring, std::wstring>;

// The texts the tests look for, as the program shows them; outcomes have a blank caption.
constexpr wchar_t kErrorCaption[] = L"Error Message";
const Box kCompleted{L"", L"Have Completed"};
const Box kStopped{L"", L"Have Stopped"};

// Wine's Save As dialog and folder browser.
constexpr int kFileNameEdit = 1152;
constexpr int kFolderEdit = 14149;
constexpr wchar_t kSaveAsCaption[] = L"Save";
constexpr wchar_t kFolderCaption[] = L"Browse for Folder";

// Which of the program's top-level windows a wait looks for.
using Match = std::function<bool(HWND)>;
inline Match Titled(const std::wstring& caption) {
    return [caption](HWND window) { return Text(window) == caption; };
}
// A dialog holding the control id, such as a progress dialog, whose caption is empty.
inline Match Holding(int id) {
    return [id](HWND window) { return GetDlgItem(window, id) != nullptr; };
}
// A dialog with the system's text field.
inline bool IsMessageBox(HWND window) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    return std::wstring(className) == L"#32770" && GetDlgItem(window, 0xFFFF);
}

// The first top-level window of process pid that matches, shown or not; null if none.
inline HWND TopWindow(DWORD pid, const Match& match) {
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, nullptr, nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == pid && match(window)) return window;
    }
    return nullptr;
}

// One running qmApp; ended (if it has not ended by itself) when this goes.
class App {
public:
    explicit App(const std::wstring& folder = ProgramFolder()) {
        // Under Wine on a bare X server no window manager answers when a managed window
        // closes, and Wine waits two seconds for it each time.
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Managed", REG_SZ, L"N",
                        sizeof(L"N"));
        m_process = Start(folder + L"\\qmApp.exe", folder);
        m_main = WaitFor(Titled(L"Quillon"));
        if (!m_main) throw std::runtime_error("the main window did not open");
    }
    ~App() {
        // Ends it and the renderers it started, which only its own Exit would have ended.
        const DWORD pid = m_process.dwProcessId;
        EndProcesses(ProcessesWhere([pid](const PROCESSENTRY32W& p) {
            return p.th32ProcessID == pid || p.th32ParentProcessID == pid;
        }));
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    HWND main() const { return m_main; }

    // The first visible top-level window of the program that matches, waited for; or null.
    HWND WaitFor(const Match& match, DWORD timeoutMs = kDeadlineMs) const {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                found = TopWindow(m_process.dwProcessId, [&](HWND window) {
                    return IsWindowVisible(window) && match(window);
                });
                return found != nullptr;
            },
            timeoutMs);
        return found;
    }
    // Reads the open message box and closes it with OK.
    Box TakeMessageBox(DWORD timeoutMs = kDeadlineMs) const {
        HWND window = WaitFor(IsMessageBox, timeoutMs);
        if (!window) return {L"<no message box>", L""};
        const Box box{Text(window), ItemText(window, 0xFFFF)};
        Click(window, IDOK);
        WaitUntil([&] { return !IsWindow(window); });
        return box;
    }

    // Returns once the program's window thread is back in a message loop, so that every
    // window it was about to open exists.
    void Settle() const {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(m_main, WM_NULL, 0, 0, SMTO_NORMAL, kDeadlineMs, &ignored);
    }
    // The main window can be used again (no dialog in front of it).
    bool WaitIdle(DWORD timeoutMs = kDeadlineMs) const {
        return WaitUntil([&] { return IsWindowEnabled(m_main) != FALSE; }, timeoutMs);
    }
    // The window has gone and the program is back at its main window, with no message box.
    bool ClosedQuietly(HWND window) const {
        if (!WaitUntil([&] { return !IsWindow(window); })) return false;
        Settle();
        return WaitFor(IsMessageBox, 0) == nullptr && WaitIdle();
    }

    // Chooses folder in the open folder browser and presses OK, or Cancel (false) if it will
    // not take it. Wine's browser takes no typed path: the selection message is sent, with the
    // path in the program's memory, until its edit box names the folder.
    bool PickFolder(const std::wstring& folder) const {
        HWND browser = WaitFor(Titled(kFolderCaption));
        const SIZE_T bytes = (folder.size() + 1) * sizeof(wchar_t);
        void* remote =
            VirtualAllocEx(m_process.hProcess, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
        const std::wstring leaf = folder.substr(folder.find_last_of(L'\\') + 1);
        const bool chosen =
            browser && remote &&
            WriteProcessMemory(m_process.hProcess, remote, folder.c_str(), bytes, nullptr) &&
            WaitUntil([&] {
                SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
                return ItemText(browser, kFolderEdit) == leaf;
            });
        if (browser) Click(browser, chosen ? IDOK : IDCANCEL);
        if (remote) VirtualFreeEx(m_process.hProcess, remote, 0, MEM_RELEASE);
        return chosen;
    }

    bool WaitForExit(DWORD timeoutMs = kDeadlineMs) const {
        return WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }

private:
    PROCESS_INFORMATION m_process;
    HWND m_main = nullptr;
};

}  // namespace gui
