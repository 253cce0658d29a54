// Finding a Chromium-family browser and running it headless with a profile of its own.
//
// On Windows that is Microsoft Edge or Google Chrome. Under Wine on Linux it is usually
// the system's own browser (a Linux program, started by its Z:\ path); Wine can neither
// wait for such a process nor end it, so it runs under a small shell wrapper that bounds
// its life with timeout(1) and removes its profile when it ends.
#pragma once

#include <windows.h>

#include <string>

#include "winutil_win32.h"

namespace pagesnap {

struct BrowserChoice {
    std::string exe;  // a Windows path, also for Linux programs (Z:\usr\bin\...)
    bool linuxProgram = false;
};

// The browser named in the configuration (when `configured` is not empty, only that
// one), otherwise the first found at the usual places.
bool ChooseBrowser(const std::string& configured, BrowserChoice* choice, std::string* why);

class Browser {
public:
    Browser() = default;
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;
    ~Browser() { End(); }

    // Starts the browser on a blank page with DevTools listening on a free loopback port.
    // It is ended by `killAt` at the latest, even when this program is ended first.
    bool Start(const BrowserChoice& choice, int viewportWidth, Tick killAt, std::string* why);
    // Waits until the browser tells its DevTools port and endpoint.
    bool WaitForEndpoint(Tick deadline, int* port, std::string* path, std::string* why);
    // Lets the browser finish a requested close for a moment, then ends it and everything
    // it started, and removes its profile.
    void End();

private:
    std::string ExitReport() const;
    // The end of the browser's own complaints, to quote in a log; empty when there are none.
    std::string LastWords() const;

    std::string profile_;  // Windows path of the temporary profile folder
    bool linuxProgram_ = false;
    HANDLE job_ = nullptr;  // Windows browsers: kills the whole process tree on close
    HANDLE process_ = nullptr;
    bool ended_ = true;
};

// Removes profile folders that renderers ended in the middle of a job left behind.
void RemoveStaleProfiles();

}  // namespace pagesnap
