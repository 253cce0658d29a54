// What the browser receives while it shows a page, caught through the DevTools Fetch domain:
// the page's own document is answered with the text the save already fetched, and the bodies
// of the style sheets, pictures, fonts, scripts and frames it loads are kept for the save,
// which then need not fetch them again. The Network domain tells which text asked for each.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "devtools.h"
#include "qm_url.h"

namespace qmsave {

class BrowserBodies {
public:
    // The most bytes kept over all bodies, as much as the save takes.
    static constexpr size_t kMostBytes = MOST_GIVEN_BYTES;

    BrowserBodies(pagesnap::DevToolsClient& devtools, std::string session)
        : devtools_(devtools),
          session_(std::move(session)) {}

    // Has the browser pause what the page loads. A navigation to `pageUrl` is answered with
    // `text` (of `contentType`; "" for HTML) when that is not null.
    bool Begin(const std::string& pageUrl, const std::string* text, const std::string& contentType,
               pagesnap::Tick deadline, std::string* why);
    // Notes from now on which text asks for each address.
    bool WatchRequests(pagesnap::Tick deadline, std::string* why);
    // Answers what the browser has paused, and what it pauses until `until`.
    void Serve(pagesnap::Tick until);
    // Keeps `body` for `url` in place of what came for it.
    void Keep(const std::string& url, std::string body);
    // The bodies kept: address (without its fragment) and bytes.
    std::vector<std::pair<std::string, std::string>>& bodies() { return bodies_; }
    // Of each address asked for (without its fragment) since WatchRequests, the address of
    // the page or style sheet whose parser asked for it; "" for a script's own request.
    const std::map<std::string, std::string>& askedBy() const { return askedBy_; }

private:
    void Answer(const pagesnap::JsonValue& paused);
    void KeepBody(const std::string& id, const std::string& url);

    pagesnap::DevToolsClient& devtools_;
    const std::string session_;
    std::string pageUrl_;
    const std::string* text_ = nullptr;
    std::string contentType_;
    std::vector<std::pair<std::string, std::string>> bodies_;
    std::set<std::string> known_;  // the addresses in bodies_
    std::map<std::string, std::string> askedBy_;
    size_t bytes_ = 0;
};

}  // namespace qmsave
