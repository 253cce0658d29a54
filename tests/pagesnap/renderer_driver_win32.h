// Drives Pagesnap the way the desktop program does (the job text in the shared block, then
// a button-down/button-up pair on the renderer's child window) and reads the picture it
// writes the way a viewer would.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "driver.h"
#include "pagesnap_protocol.h"

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

// A JPEG as a viewer reads it.
struct Picture {
    bool valid = false;
    std::string error;
    unsigned width = 0;
    unsigned height = 0;
    std::vector<unsigned char> bgra;  // top-down rows

    // Whether the pixel is within 16 of the colour in every channel (JPEG is lossy); a
    // failure names the colour found.
    ::testing::AssertionResult Shows(unsigned x, unsigned y, int r, int g, int b) const;
};

Picture ReadJpeg(const std::wstring& path);

}  // namespace pagesnap_test
