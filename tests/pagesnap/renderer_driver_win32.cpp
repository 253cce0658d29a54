#include "renderer_driver_win32.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace pagesnap_test {

namespace {

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchFrame(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char title[64] = "";
  GetWindowTextA(window, title, sizeof title);
  if (owner == search->processId && std::strcmp(title, "qmPagesnap") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(50);
  }
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadText(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
  }
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

std::string ProgramFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.find_last_of("\\/") + 1);
}

std::string MakeScratchFolder(const char* tag) {
  static LONG count = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH];
  std::snprintf(name, sizeof name, "%sqm-%s-%lu-%ld", temp, tag, GetCurrentProcessId(),
                InterlockedIncrement(&count));
  RemoveFolder(name);
  CreateDirectoryA(name, nullptr);
  return std::string(name) + "\\";
}

void RemoveFolder(const std::string& folder) {
  std::string base = folder;
  if (!base.empty() && base.back() == '\\') base.pop_back();
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((base + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveFolder(base + "\\" + name);
      } else {
        DeleteFileA((base + "\\" + name).c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(base.c_str());
}

bool WriteJobBlock(const std::string& text) {
  if (text.size() + 1 > 1024) return false;
  // Kept open for the life of the test program, as the desktop program keeps its own.
  static HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             1024, "qmPagesnap");
  if (!mapping) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
  if (!view) return false;
  std::memset(view, 0, 1024);
  std::memcpy(view, text.c_str(), text.size() + 1);
  UnmapViewOfFile(view);
  return true;
}

Renderer::Renderer(const std::string& ini) : folder_(MakeScratchFolder("renderer")) {
  const std::string exe = folder_ + "Pagesnap.exe";
  if (!CopyFileA((ProgramFolder() + "Pagesnap.exe").c_str(), exe.c_str(), FALSE)) {
    throw std::runtime_error("Pagesnap.exe is not beside the test program");
  }
  if (!ini.empty()) WriteIni(ini);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string line = "\"" + exe + "\"";
  if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(),
                      &startup, &process_)) {
    throw std::runtime_error("Pagesnap.exe does not start");
  }
  WaitUntil([&] {
    WindowSearch search = {process_.dwProcessId, nullptr};
    EnumWindows(MatchFrame, reinterpret_cast<LPARAM>(&search));
    frame_ = search.found;
    target_ = frame_ ? FindWindowExA(frame_, nullptr, nullptr, "qmPagesnap") : nullptr;
    return target_ != nullptr || !running();
  }, 20000);
}

Renderer::~Renderer() {
  if (process_.hProcess) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  RemoveFolder(folder_);
}

bool Renderer::running() const {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void Renderer::WriteIni(const std::string& ini) { WriteText(folder_ + "Pagesnap.ini", ini); }

void Renderer::Click() const {
  SendMessageA(target_, WM_LBUTTONDOWN, 0, 0);
  Sleep(100);
  SendMessageA(target_, WM_LBUTTONUP, 0, 0);
}

}  // namespace pagesnap_test
