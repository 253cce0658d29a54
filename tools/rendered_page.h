// A page as the browser shows it: loaded in headless Chromium through the DevTools protocol
// until it is done, and its live document written out as HTML for the save to read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qmsave {

class RenderBrowser;

struct RenderedPage {
    std::string url;   // where the browser ended up
    std::string html;  // the live document, as HTML
    // What ended the wait: "quiet" (loaded, no new request for 500 ms and no change of the
    // document for 300 ms) or "wait limit".
    std::string doneBy;
    // What the browser received for the items the page shows, and the live documents of its
    // frames from its own site: address and bytes.
    std::vector<std::pair<std::string, std::string>> items;
    // The addresses among `items` that the page's scripts asked for (LoadsOf).
    std::vector<std::string> scriptLoads;
};

// Whether there is a browser to render pages in; why not in `*why` when there is none.
bool CanRender(std::string* why = nullptr);

// Renders pages one after another in one browser, started for the first and gone with this.
class PageRenderer {
public:
    // Each page waits `waitLimitMs` at the most; `keepScripts` keeps scripts, `on...` handlers
    // and javascript: addresses, which are left out otherwise; `stopped` is asked between
    // steps and ends the rendering.
    PageRenderer(uint32_t waitLimitMs, bool keepScripts, bool (*stopped)());
    ~PageRenderer();
    PageRenderer(const PageRenderer&) = delete;
    PageRenderer& operator=(const PageRenderer&) = delete;

    // Loads `url` and writes out its document once it is done, or at the wait limit at the
    // latest: form values as attributes, canvases as PNG pictures, shadow roots as
    // declarative templates, adopted and script-made style sheets as style elements. With a
    // `fetched` text (of `contentType`), the browser is given it for the page rather than
    // fetching the page again. False, with the reason in `*why`, when the browser cannot be
    // started or the page cannot be loaded.
    bool Render(const std::string& url, const std::string* fetched, const std::string& contentType,
                RenderedPage* page, std::string* why);
    // Loads `url` as Render does until it is done, without scrolling or writing it out: `page`
    // receives what the browser received, and which of it the page's scripts asked for.
    bool LoadsOf(const std::string& url, const std::string* fetched, const std::string& contentType,
                 RenderedPage* page, std::string* why);

private:
    bool Load(const std::string& url, const std::string* fetched, const std::string& contentType,
              bool writeOut, RenderedPage* page, std::string* why);

    const uint32_t waitLimitMs_;
    const bool keepScripts_;
    bool (*const stopped_)();
    std::unique_ptr<RenderBrowser> browser_;
};

}  // namespace qmsave
