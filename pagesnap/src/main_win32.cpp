// Pagesnap: the page renderer that Quillon's desktop program drives.
//
// It has no visible window. The program finds the hidden top-level window titled
// "qmPagesnap", clicks its child of the same title, and waits for the picture; the job
// itself travels in the shared block "qmPagesnap". The click is answered at once and the
// page is drawn on a thread of its own, so the program's window never waits for a page.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <exception>
#include <memory>
#include <string>

#include "browser_win32.h"
#include "job.h"
#include "joblog_win32.h"
#include "render_win32.h"
#include "winutil_win32.h"

namespace {

using namespace pagesnap;

constexpr char kFrameClass[] = "qmPagesnapFrame";
constexpr char kTargetClass[] = "qmPagesnapTarget";
// A job takes at most a few seconds; more at once than this means something is wrong.
constexpr LONG kMaxJobsAtOnce = 4;

bool g_buttonDown = false;
LONG g_jobsRunning = 0;

struct PendingJob {
    Job job;
    Tick clickedAt;
};

// Pagesnap.ini beside the program may name the browser: [Pagesnap] Browser=<path>.
std::string ConfiguredBrowser() {
    const std::string ini = ProgramFolder() + "Pagesnap.ini";
    char value[MAX_PATH] = "";
    GetPrivateProfileStringA("Pagesnap", "Browser", "", value, sizeof value, ini.c_str());
    return value;
}

// Runs `work`; an exception it lets out ends there, told in the log of `job` (the shared
// log without one). Nothing may leave a window procedure or a thread's start routine.
template <class Work>
void Guarded(const Job* job, Work work) noexcept {
    const char* what = "an unexpected failure";
    try {
        work();
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    try {
        JobLog(job ? JobLogPath(*job) : std::string())
            .Fail(job ? job->url : "(none)", std::string("the job ended early: ") + what);
    } catch (...) {
    }
}

DWORD WINAPI JobThread(void* param) {
    std::unique_ptr<PendingJob> pending(static_cast<PendingJob*>(param));
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Guarded(&pending->job,
            [&] { RenderJob(pending->job, pending->clickedAt, ConfiguredBrowser()); });
    if (SUCCEEDED(com)) CoUninitialize();
    InterlockedDecrement(&g_jobsRunning);
    return 0;
}

bool ReadJobBlock(Job* job) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, kJobMappingName);
    if (!mapping) return false;
    bool complete = false;
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {
        // A block made smaller than agreed is read only as far as it goes.
        MEMORY_BASIC_INFORMATION region = {};
        std::size_t size = VirtualQuery(view, &region, sizeof region) ? region.RegionSize : 0;
        if (size > kJobBlockSize) size = kJobBlockSize;
        const std::string copy(static_cast<const char*>(view), size);
        UnmapViewOfFile(view);
        complete = ParseJob(copy.data(), copy.size(), job);
    }
    CloseHandle(mapping);
    return complete;
}

void TakeJob() {
    const Tick clickedAt = Now();
    Job job;
    if (!ReadJobBlock(&job)) {
        JobLog(std::string())
            .Fail("(none)",
                  std::string("a click came without a complete job in the shared block \"") +
                      kJobMappingName + "\"");
        return;
    }
    if (IsFullWindowsPath(job.path)) {
        // Gone before the click is answered: an earlier picture of this name would otherwise
        // end the program's wait at once, and an earlier log would tell of another job.
        DeleteFileA((job.path + ".jpg").c_str());
        DeleteFileA((job.path + ".log").c_str());
    }
    auto pending = std::make_unique<PendingJob>(PendingJob{job, clickedAt});
    if (InterlockedIncrement(&g_jobsRunning) > kMaxJobsAtOnce) {
        InterlockedDecrement(&g_jobsRunning);
        JobLog(JobLogPath(job))
            .Fail(job.url, "too many pictures are being made at once; try again in a few seconds");
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, JobThread, pending.get(), 0, nullptr);
    if (!thread) {
        InterlockedDecrement(&g_jobsRunning);
        JobLog(JobLogPath(job))
            .Fail(job.url,
                  "no thread could be started for the job: " + LastErrorText(GetLastError()));
        return;
    }
    pending.release();  // the thread owns it now
    CloseHandle(thread);
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_LBUTTONDOWN: g_buttonDown = true; return 0;
        case WM_LBUTTONUP:
            // Only the pair is a click; a lone button-up is not a job.
            if (g_buttonDown) {
                g_buttonDown = false;
                Guarded(nullptr, TakeJob);
            }
            return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    RemoveStaleProfiles();

    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = instance;
    frameClass.lpszClassName = kFrameClass;
    WNDCLASSA targetClass = {};
    targetClass.lpfnWndProc = TargetProc;
    targetClass.hInstance = instance;
    targetClass.lpszClassName = kTargetClass;
    if (!RegisterClassA(&frameClass) || !RegisterClassA(&targetClass)) return 1;

    // Never shown: the program keeps it hidden as well, whatever show state we were given.
    // The frame gets its title only once its child exists, so whoever finds the one by its
    // title finds the other too.
    HWND frame = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
    if (!frame) return 1;
    if (!CreateWindowExA(0, kTargetClass, kWindowTitle, WS_CHILD | WS_VISIBLE, 0, 0, 100, 100,
                         frame, nullptr, instance, nullptr)) {
        return 1;
    }
    SetWindowTextA(frame, kWindowTitle);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    WSACleanup();
    return 0;
}
