// A stand-in for Pagesnap in the tests of the desktop program's bridge: the same two
// windows, and on a click it keeps what it was sent, beside itself:
//   clicks.txt  one line per button message, "down" or "up"
//   job.bin     the shared block "qmPagesnap" as found at the button-up, all 1024 bytes
// What it does besides is read from standin.txt beside it:
//   picture    (or no file) writes path + ".jpg" at once
//   silent     writes nothing
//   no-child   has the top-level window only
//   no-window  has no window at all
#include <windows.h>

#include <cstring>
#include <string>

namespace {

std::string g_folder;
std::string g_mode;

std::string ReadMode() {
  char text[32] = "";
  HANDLE file = CreateFileA((g_folder + "standin.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "picture";
  DWORD read = 0;
  ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
  CloseHandle(file);
  std::string mode(text, read);
  while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r')) mode.pop_back();
  return mode;
}

void WriteBytes(const std::string& path, const void* data, DWORD size, bool append) {
  HANDLE file = CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, 0, nullptr,
                            append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, data, size, &written, nullptr);
  CloseHandle(file);
}

void TakeJob() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "qmPagesnap");
  if (!mapping) return;
  char block[1024];
  if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(block))) {
    std::memcpy(block, view, sizeof(block));
    UnmapViewOfFile(view);
    WriteBytes(g_folder + "job.bin", block, sizeof(block), false);
    const std::string text(block, strnlen(block, sizeof(block)));
    const size_t first = text.find("JWPQqm");
    const size_t second = first == std::string::npos ? first : text.find("JWPQqm", first + 6);
    if (second != std::string::npos && ReadMode() == "picture") {
      const std::string path = text.substr(first + 6, second - first - 6) + ".jpg";
      WriteBytes(path, "stand-in picture", 16, false);
    }
  }
  CloseHandle(mapping);
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_LBUTTONDOWN) {
    WriteBytes(g_folder + "clicks.txt", "down\n", 5, true);
    return 0;
  }
  if (message == WM_LBUTTONUP) {
    WriteBytes(g_folder + "clicks.txt", "up\n", 3, true);
    TakeJob();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  g_folder = exe;
  g_folder.erase(g_folder.find_last_of('\\') + 1);
  g_mode = ReadMode();

  if (g_mode != "no-window") {
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = DefWindowProcA;
    frameClass.hInstance = instance;
    frameClass.lpszClassName = "StandinFrame";
    WNDCLASSA targetClass = {};
    targetClass.lpfnWndProc = TargetProc;
    targetClass.hInstance = instance;
    targetClass.lpszClassName = "StandinTarget";
    RegisterClassA(&frameClass);
    RegisterClassA(&targetClass);
    HWND frame = CreateWindowExA(0, "StandinFrame", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                 nullptr, nullptr, instance, nullptr);
    if (g_mode != "no-child") {
      CreateWindowExA(0, "StandinTarget", "qmPagesnap", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, frame,
                      nullptr, instance, nullptr);
    }
    SetWindowTextA(frame, "qmPagesnap");
    // Shown, so that a test sees the program hide it. The first call takes the show state
    // this process was started with, the second the one asked for.
    ShowWindow(frame, SW_SHOW);
    ShowWindow(frame, SW_SHOW);
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
