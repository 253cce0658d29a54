// Drives the desktop program from outside, as a person would: starts it, finds its windows,
// types into edit boxes, presses buttons and reads message boxes. Every wait polls against
// a deadline.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace gui {

constexpr DWORD kDeadlineMs = 15000;

// The tests' texts are ASCII (other characters become '?').
std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);

// Polls until pred is true or the deadline passes; the last result of pred.
bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs = kDeadlineMs);

std::wstring Text(HWND window);
std::wstring ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::wstring& text);
// Presses a button without waiting for what it opens.
void Click(HWND dialog, int id);

// The folder the driver runs in (also where qmApp.exe and qm_url.dll are).
std::wstring ProgramFolder();
// A fresh, empty folder for one test under the system's temporary folder; removed by
// the destructor.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name);
    ~ScratchFolder();
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};
bool FileExists(const std::wstring& path);
std::string ReadFile(const std::wstring& path);
void WriteFile(const std::wstring& path, const std::string& bytes);
// Names of the files (not folders) directly in folder, sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// The running processes that match, by id.
std::vector<DWORD> ProcessesWhere(const std::function<bool(const PROCESSENTRY32W&)>& match);
// Ends each of them and waits for it to go.
void EndProcesses(const std::vector<DWORD>& ids);

// What a message box showed.
struct Box {
    std::wstring caption;
    std::wstring text;
    bool operator==(const Box& other) const {
        return caption == other.caption && text == other.text;
    }
};
inline std::ostream& operator<<(std::ostream& out, const Box& box) {
    return out << "[" << Narrow(box.caption) << "] " << Narrow(box.text);
}

// One running qmApp; ended (if it has not ended by itself) when this goes.
class App {
public:
    // Starts the qmApp.exe of `folder`, where its library and renderer are too.
    explicit App(const std::wstring& folder = ProgramFolder());
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    HWND main() const { return m_main; }

    // Every visible top-level window of the program.
    std::vector<HWND> TopWindows() const;
    // One of them with this caption, or null.
    HWND FindTop(const std::wstring& caption) const;
    HWND WaitForTop(const std::wstring& caption, DWORD timeoutMs = kDeadlineMs) const;
    // One of them holding the control id, such as a progress dialog, whose caption is empty.
    HWND WaitForDialogWith(int id) const;
    // A message box (a dialog with the system's text field), or null.
    HWND FindMessageBox() const;
    HWND WaitForMessageBox(DWORD timeoutMs = kDeadlineMs) const;
    // Reads the open message box and closes it with OK.
    Box TakeMessageBox(DWORD timeoutMs = kDeadlineMs) const;

    // Returns once the program's window thread is back in a message loop, so that every
    // window it was about to open exists.
    void Settle() const;
    // The main window can be used again (no dialog in front of it).
    bool Idle() const { return IsWindowEnabled(m_main) != FALSE; }
    bool WaitIdle(DWORD timeoutMs = kDeadlineMs) const;
    // True once window has gone and the program is back at its main window, with no
    // message box shown.
    bool ClosedQuietly(HWND window) const;

    // Chooses folder in the folder browser that has opened and presses OK; when the
    // browser will not take the folder it is cancelled instead, and the result is false.
    bool PickFolder(const std::wstring& folder) const;

    bool WaitForExit(DWORD timeoutMs = kDeadlineMs) const;
    bool Exited() const { return WaitForExit(0); }

private:
    HWND FindTopWhere(const std::function<bool(HWND)>& match) const;
    HWND WaitForTopWhere(const std::function<bool(HWND)>& match, DWORD timeoutMs) const;
    bool SelectFolder(HWND browser, const std::wstring& folder) const;

    PROCESS_INFORMATION m_process = {};
    HWND m_main = nullptr;
};

}  // namespace gui
