// Drives Pagesnap the way the desktop program does: the job text in the shared block,
// then a button-down/button-up pair on the renderer's child window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace pagesnap_test {

// Polls `done` every 50 ms until it holds or `timeoutMs` have passed.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);

bool FileExists(const std::string& path);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
// A new empty folder under the temporary folder, with a trailing backslash.
std::string MakeScratchFolder(const char* tag);
void RemoveFolder(const std::string& folder);
// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

// Writes `text` into the 1024-byte block "qmPagesnap" (created if need be), zeros after
// it. Returns false if the text and its NUL do not fit.
bool WriteJobBlock(const std::string& text);

// A copy of Pagesnap.exe in a folder of its own, so that each test can give it its own
// Pagesnap.ini, started and ended by the test.
class Renderer {
 public:
  // `ini` is written beside the copy when not empty.
  explicit Renderer(const std::string& ini = std::string());
  ~Renderer();

  bool running() const;
  HWND frame() const { return frame_; }
  HWND target() const { return target_; }
  const std::string& folder() const { return folder_; }
  void WriteIni(const std::string& ini);

  // The pair of messages the program sends, 100 ms apart.
  void Click() const;

 private:
  std::string folder_;
  PROCESS_INFORMATION process_ = {};
  HWND frame_ = nullptr;
  HWND target_ = nullptr;
};

}  // namespace pagesnap_test
