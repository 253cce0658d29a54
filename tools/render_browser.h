// The browser that qmsave renders pages in: the system's Chromium on Linux, the browser
// Pagesnap finds on Windows; headless, with a profile of its own, and gone with this object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devtools.h"

namespace qmsave {

class RenderBrowser {
public:
    RenderBrowser();
    ~RenderBrowser();
    RenderBrowser(const RenderBrowser&) = delete;
    RenderBrowser& operator=(const RenderBrowser&) = delete;

    // Whether there is a browser to start; why not in `*why` when there is none.
    static bool Available(std::string* why);
    // Starts the browser and connects to it. Where its end cannot be tied to this program's
    // (a Linux browser under Wine), it ends after `lifeMs` at the latest.
    bool Start(uint32_t lifeMs, std::string* why);
    // Whether the browser may serve another page after `lifeMs` has passed for one.
    static bool OutlivesAPage();
    pagesnap::DevToolsClient& devtools() { return devtools_; }
    // Asks the browser to close, not waiting for it: a Linux browser under Wine can be ended
    // no other way.
    void Close() {
        pagesnap::JsonValue ignored;
        std::string why;
        if (process_ != nullptr)
            devtools_.Call("Browser.close", "", "", pagesnap::Now() + 300, &ignored, &why);
    }

private:
    struct Process;
    std::unique_ptr<Process> process_;
    pagesnap::DevToolsClient devtools_;
};

}  // namespace qmsave
