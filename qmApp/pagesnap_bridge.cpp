// The bridge to the page renderer Pagesnap: started hidden with the main window, handed
// one job per "Save This Page as An Image", ended on Exit.
//
// The job goes one way only: its text into the shared block "qmPagesnap", then a click on
// the renderer's child window. The only answer is the picture file, which `waitingimage`
// polls for.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "file_dialogs.h"
#include "globals.h"
#include "main_dialog.h"
#include "messages.h"
#include "progress_dialogs.h"
#include "pagesnap_protocol.h"
#include "res/resource.h"
#include "rules.h"

namespace {

using pagesnap::kJobBlockSize;
// A running renderer is any process whose executable name begins with this.
constexpr char kRendererName[] = "Pagesnap";
// `waitingimage` appends ".jpg" to the path in its 512-byte member.
constexpr size_t kMaxPicturePath = sizeof(waitingimage::m_szSavePath) - 1 - 4;

constexpr char kJobTooLong[] = "The address and the file name are too long.";

void StartRenderer() {
    ShellExecuteA(nullptr, "open", pagesnap::kProgramFile, nullptr, nullptr, SW_HIDE);
}

HANDLE CreateJobBlock() {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kJobBlockSize,
                              pagesnap::kJobMappingName);
}

// Calls visit(processId) for every renderer process until it returns false. False when the
// process list cannot be read.
template <class Visit>
bool ForEachRenderer(Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    const bool readable = Process32First(snapshot, &entry) != FALSE;
    if (readable) {
        do {
            const bool isRenderer =
                std::strncmp(entry.szExeFile, kRendererName, sizeof(kRendererName) - 1) == 0;
            if (isRenderer && !visit(entry.th32ProcessID)) break;
        } while (Process32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return readable;
}

// An unreadable process list counts as a running renderer: starting one more is worse
// than the "Error!" that follows if there is none.
bool RendererRunning() {
    bool running = false;
    const bool listed = ForEachRenderer([&](DWORD) {
        running = true;
        return false;
    });
    return running || !listed;
}

// The whole block zeroed, then the job text with its NUL. False when the block cannot be
// reached: the renderer would then act on whatever job was there before.
bool WriteJob(HANDLE mapping, const std::string& job) {
    if (!mapping) return false;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return false;
    std::memset(view, 0, kJobBlockSize);
    std::memcpy(view, job.c_str(), job.size() + 1);
    UnmapViewOfFile(view);
    return true;
}

}  // namespace

void CqmAppDlg::StartPagesnap() {
    StartRenderer();
    m_hPagesnapMapping = CreateJobBlock();
}

void CqmAppDlg::OnSavePageAsImage() {
    // This command hands https pages on: it is where the others send the user for them.
    if (!ReadPageUrl(kAnyScheme)) return;
    if (!RendererRunning()) StartRenderer();

    SaveAsRequest request;  // no name offered, no file type, no overwrite question
    std::string path;
    if (AskSavePath(m_hWnd, request, &path) != PickResult::kChosen) return;

    // The URL box again, now with all the room the block has.
    char url[kJobBlockSize] = {};
    GetDlgItemTextA(m_hWnd, IDC_URL, url, sizeof(url));
    if (url[0] == '\0') {
        ShowMessage(m_hWnd, msg::kEnterUrl, msg::kErrorCaption);
        return;
    }
    std::string job;
    if (!rules::MakeRendererJob(url, path, &job)) {
        ShowMessage(m_hWnd, kJobTooLong, msg::kErrorCaption);
        return;
    }
    if (path.size() > kMaxPicturePath) {
        ShowMessage(m_hWnd, msg::kPathTooLong, msg::kErrorCaption);
        return;
    }

    if (!m_hPagesnapMapping) m_hPagesnapMapping = CreateJobBlock();
    const bool written = WriteJob(m_hPagesnapMapping, job);
    // A renderer started just now may have no windows yet; the job then stays unclicked.
    m_hPagesnapWnd = written ? FindWindowA(nullptr, pagesnap::kWindowTitle) : nullptr;
    m_hPagesnapChild = nullptr;
    if (m_hPagesnapWnd) {
        ShowWindow(m_hPagesnapWnd, SW_HIDE);
        m_hPagesnapChild = FindWindowExA(m_hPagesnapWnd, nullptr, nullptr, pagesnap::kWindowTitle);
    }
    if (!m_hPagesnapChild) {
        ShowMessage(m_hWnd, msg::kErrorCapital, msg::kErrorCaption);
        return;
    }
    SendMessageA(m_hPagesnapChild, WM_LBUTTONDOWN, 0, 0);
    ShowWindow(m_hPagesnapWnd, SW_HIDE);
    Sleep(pagesnap::kClickGapMs);
    SendMessageA(m_hPagesnapChild, WM_LBUTTONUP, 0, 0);
    ShowWindow(m_hPagesnapWnd, SW_HIDE);

    g_nSaveResult = kResultNone;
    waitingimage dialog;
    std::memcpy(dialog.m_szSavePath, path.c_str(), path.size() + 1);
    dialog.DoModal();

    // A wait that ran out says nothing: the picture may still come.
    if (g_nSaveResult == kResultCompleted) {
        ShowMessage(m_hWnd, msg::kCompleted, msg::kOutcomeCaption);
    } else if (g_nSaveResult == kResultError) {
        ShowMessage(m_hWnd, msg::kError, msg::kOutcomeCaption);
    }
}

int32_t CqmAppDlg::KillPagesnap() {
    // Every renderer goes, also one that ran before this program or was started by hand.
    const bool listed = ForEachRenderer([this](DWORD id) {
        EnableDebugPrivilege();
        if (HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, id)) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
        return true;
    });
    return listed ? 1 : 0;
}

int32_t CqmAppDlg::EnableDebugPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token)) return 0;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
        CloseHandle(token);
        return 0;
    }
    const BOOL adjusted =
        AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    CloseHandle(token);
    return adjusted ? 1 : 0;
}
