// Drives Pagesnap the way the desktop program does: the job text in the shared block,
// then a button-down/button-up pair on the renderer's child window.
#pragma once

#include <windows.h>

#include <string>

#include "driver.h"

namespace pagesnap_test {

// Writes `text` into the 1024-byte block "qmPagesnap" (created if need be), zeros after
// it. Returns false if the text and its NUL do not fit.
bool WriteJobBlock(const std::string& text);

// A copy of Pagesnap.exe in a folder of its own, so that each test can give it its own
// Pagesnap.ini, started and ended by the test.
class Renderer {
 public:
  Renderer();
  ~Renderer();

  bool running() const;
  HWND frame() const { return frame_; }
  HWND target() const { return target_; }
  void WriteIni(const std::string& ini) const { gui::WriteFile(folder_ / L"Pagesnap.ini", ini); }

  // The pair of messages the program sends, 100 ms apart.
  void Click() const;

 private:
  gui::ScratchFolder folder_{L"renderer"};
  PROCESS_INFORMATION process_ = {};
  HWND frame_ = nullptr;
  HWND target_ = nullptr;
};

}  // namespace pagesnap_test
