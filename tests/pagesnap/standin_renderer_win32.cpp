// A stand-in for Pagesnap in the tests of the desktop program's bridge: the same two
// windows, and on a click it keeps beside itself what it was sent: clicks.txt, one line
// per button message ("down" or "up"), and job.bin, the whole shared block at the
// button-up. standin.txt beside it says what it does besides (read at start for its
// windows, at each click for the picture):
//   picture    (or no file) writes path + ".jpg" at once
//   silent     writes nothing
//   no-child   has the top-level window only
//   no-window  has no window at all
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "job.h"

namespace {

std::string g_folder;

std::string ReadMode() {
    std::ostringstream mode;
    mode << std::ifstream(g_folder + "standin.txt", std::ios::binary).rdbuf();
    return mode.str().empty() ? "picture" : mode.str();
}

void Write(const std::string& path, const std::string& bytes,
           std::ios::openmode how = std::ios::trunc) {
    std::ofstream(path, std::ios::binary | how) << bytes;
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_LBUTTONDOWN && message != WM_LBUTTONUP)
        return DefWindowProcA(window, message, wParam, lParam);
    Write(g_folder + "clicks.txt", message == WM_LBUTTONDOWN ? "down\n" : "up\n", std::ios::app);
    HANDLE mapping = message == WM_LBUTTONUP
                         ? OpenFileMappingA(FILE_MAP_READ, FALSE, pagesnap::kJobMappingName)
                         : nullptr;
    const void* view =
        mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, pagesnap::kJobBlockSize) : nullptr;
    if (view) {
        const std::string block(static_cast<const char*>(view), pagesnap::kJobBlockSize);
        UnmapViewOfFile(view);
        Write(g_folder + "job.bin", block);
        pagesnap::Job job;
        if (pagesnap::ParseJob(block.data(), block.size(), &job) && ReadMode() == "picture")
            Write(job.path + ".jpg", "stand-in picture");
    }
    if (mapping) CloseHandle(mapping);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    g_folder = exe;
    g_folder.erase(g_folder.find_last_of('\\') + 1);
    const std::string mode = ReadMode();
    if (mode != "no-window") {
        // One class for both windows: nothing clicks the frame.
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = TargetProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = "Standin";
        RegisterClassA(&windowClass);
        // Titled once its child exists, as Pagesnap does: whoever finds the one finds both.
        HWND frame = CreateWindowExA(0, "Standin", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                     nullptr, instance, nullptr);
        if (mode != "no-child")
            CreateWindowExA(0, "Standin", pagesnap::kWindowTitle, WS_CHILD | WS_VISIBLE, 0, 0, 200,
                            100, frame, nullptr, instance, nullptr);
        SetWindowTextA(frame, pagesnap::kWindowTitle);
        // Shown, so that a test sees the program hide it. The first call takes the show state
        // this process was started with, the second the one asked for.
        ShowWindow(frame, SW_SHOW);
        ShowWindow(frame, SW_SHOW);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}
