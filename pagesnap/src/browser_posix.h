// Running the system's Chromium headless with a profile folder of its own, on Linux and other
// POSIX systems: the counterpart of browser_win32 for programs that drive a browser natively.
#pragma once

#include <sys/types.h>

#include <string>

#include "clock.h"

namespace pagesnap {

// Where the browser is looked for when none is named.
constexpr char kSystemChromium[] = "/usr/bin/chromium";

class PosixBrowser {
public:
    PosixBrowser() = default;
    PosixBrowser(const PosixBrowser&) = delete;
    PosixBrowser& operator=(const PosixBrowser&) = delete;
    ~PosixBrowser() { End(); }

    // Starts `exe` headless on a blank page, in a process group of its own, with DevTools
    // listening on a loopback port it chooses and a new profile folder in the system's
    // temporary folder. The browser ends with this program at the latest.
    bool Start(const std::string& exe, std::string* why);
    // Waits until the browser tells its DevTools port and endpoint path.
    bool WaitForEndpoint(Tick deadline, int* port, std::string* path, std::string* why) const;
    // Ends the browser and every process it started, and removes its profile.
    void End();
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    std::string profile_;
};

}  // namespace pagesnap
