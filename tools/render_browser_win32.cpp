#include <winsock2.h>

#include "browser_win32.h"
#include "render_browser.h"

namespace qmsave {

namespace {

// The viewport's width until the page is measured, as Pagesnap draws pages.
constexpr int kViewportWidth = 1280;

}  // namespace

struct RenderBrowser::Process {
    ~Process() {
        if (sockets) WSACleanup();
    }
    bool sockets = false;  // the DevTools connection's sockets were started
    pagesnap::Browser browser;
};

RenderBrowser::RenderBrowser() = default;
RenderBrowser::~RenderBrowser() = default;
bool RenderBrowser::Available(std::string* why) {
    pagesnap::BrowserChoice choice;
    std::string none;
    return pagesnap::ChooseBrowser("", &choice, why != nullptr ? why : &none);
}

// A Linux browser under Wine is bounded by time alone: each page has one of its own.
bool RenderBrowser::OutlivesAPage() { return false; }

bool RenderBrowser::Start(uint32_t lifeMs, std::string* why) {
    pagesnap::BrowserChoice choice;
    if (!pagesnap::ChooseBrowser("", &choice, why)) return false;
    const pagesnap::Tick deadline = pagesnap::Now() + 30000;
    process_ = std::make_unique<Process>();
    WSADATA sockets;
    process_->sockets = WSAStartup(MAKEWORD(2, 2), &sockets) == 0;
    if (!process_->sockets) {
        *why = "the network could not be used";
        return false;
    }
    int port = 0;
    std::string path;
    return process_->browser.Start(choice, kViewportWidth, pagesnap::Now() + lifeMs, why) &&
           process_->browser.WaitForEndpoint(deadline, &port, &path, why) &&
           devtools_.Connect(port, path, deadline, why);
}

}  // namespace qmsave
