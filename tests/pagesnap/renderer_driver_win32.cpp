#include "renderer_driver_win32.h"

#include <cstring>
#include <stdexcept>

namespace pagesnap_test {

namespace {

constexpr DWORD kBlockSize = 1024;

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchFrame(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || gui::Text(window) != L"qmPagesnap") return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

bool WriteJobBlock(const std::string& text) {
  if (text.size() + 1 > kBlockSize) return false;
  // Kept open for the life of the test program, as the desktop program keeps its own.
  static HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             kBlockSize, "qmPagesnap");
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0) : nullptr;
  if (!view) return false;
  std::memset(view, 0, kBlockSize);
  std::memcpy(view, text.c_str(), text.size() + 1);
  UnmapViewOfFile(view);
  return true;
}

Renderer::Renderer() {
  const std::wstring exe = folder_ / L"Pagesnap.exe";
  if (!CopyFileW((gui::ProgramFolder() + L"\\Pagesnap.exe").c_str(), exe.c_str(), FALSE)) {
    throw std::runtime_error("Pagesnap.exe is not beside the test program");
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  std::wstring line = L"\"" + exe + L"\"";
  if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder_.path().c_str(), &startup, &process_)) {
    throw std::runtime_error("Pagesnap.exe does not start");
  }
  gui::WaitUntil([&] {
    WindowSearch search = {process_.dwProcessId, nullptr};
    EnumWindows(MatchFrame, reinterpret_cast<LPARAM>(&search));
    frame_ = search.found;
    target_ = frame_ ? FindWindowExA(frame_, nullptr, nullptr, "qmPagesnap") : nullptr;
    return target_ != nullptr || !running();
  }, 20000);
}

Renderer::~Renderer() {
  TerminateProcess(process_.hProcess, 1);
  WaitForSingleObject(process_.hProcess, 5000);
  CloseHandle(process_.hProcess);
  CloseHandle(process_.hThread);
}

bool Renderer::running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

void Renderer::Click() const {
  SendMessageA(target_, WM_LBUTTONDOWN, 0, 0);
  Sleep(100);
  SendMessageA(target_, WM_LBUTTONUP, 0, 0);
}

}  // namespace pagesnap_test
