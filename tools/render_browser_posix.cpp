#include <unistd.h>

#include "browser_posix.h"
#include "render_browser.h"

namespace qmsave {

struct RenderBrowser::Process {
    pagesnap::PosixBrowser browser;
};

RenderBrowser::RenderBrowser() = default;
RenderBrowser::~RenderBrowser() = default;
bool RenderBrowser::Available(std::string* why) {
    if (access(pagesnap::kSystemChromium, X_OK) == 0) return true;
    if (why != nullptr) *why = std::string(pagesnap::kSystemChromium) + " was not found";
    return false;
}

bool RenderBrowser::OutlivesAPage() { return true; }

bool RenderBrowser::Start(uint32_t, std::string* why) {
    const pagesnap::Tick deadline = pagesnap::Now() + 30000;
    process_ = std::make_unique<Process>();
    int port = 0;
    std::string path;
    return process_->browser.Start(pagesnap::kSystemChromium, why) &&
           process_->browser.WaitForEndpoint(deadline, &port, &path, why) &&
           devtools_.Connect(port, path, deadline, why);
}

}  // namespace qmsave
