// A page as the browser shows it: loaded in headless Chromium through the DevTools protocol
// until it is done, and its live document written out as HTML for the save to read.
#pragma once

#include <cstdint>
#include <string>

namespace qmsave {

struct RenderedPage {
    std::string url;   // where the browser ended up
    std::string html;  // the live document, as HTML
    // What ended the wait: "quiet" (loaded, no new request for 500 ms and no change of the
    // document for 300 ms) or "wait limit".
    std::string doneBy;
};

// Whether this build can render pages (it finds and starts the system's Chromium).
bool CanRender();

// Loads `url` and writes out its document once it is done, or at `waitLimitMs` at the latest:
// scripts, `on...` handlers and javascript: addresses left out unless `keepScripts`, form
// values as attributes, canvases as PNG pictures, open shadow roots as declarative templates,
// adopted and script-made style sheets as style elements. False, with the reason in `*why`,
// when the browser cannot be started or the page cannot be loaded; `stopped` is asked between
// steps and ends the rendering. The browser and its profile are gone when this returns.
bool RenderPage(const std::string& url, uint32_t waitLimitMs, bool keepScripts, bool (*stopped)(),
                RenderedPage* page, std::string* why);

}  // namespace qmsave
