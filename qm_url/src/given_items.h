// Bodies a caller already has for items of a save (what a browser received while it showed a
// page), taken in place of fetching them. Each is taken once; the store holds a bounded
// number of bytes, and what does not fit is fetched as usual.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

#include "qm_url.h"

namespace qm {

class GivenItems {
public:
    // The most bytes held at once, over all bodies.
    static constexpr size_t kMostBytes = MOST_GIVEN_BYTES;

    // Keeps `body` for `url` (an absolute address); false when it does not fit or `url` has
    // one already, which then stays.
    bool Give(std::string url, std::string body);
    // Moves the body given for `url` into `*body`; false when none was.
    bool Take(const std::string& url, std::string* body);

private:
    std::mutex lock_;  // the crawl's fetch-ahead workers take while a page gives
    std::unordered_map<std::string, std::string> bodies_;
    size_t bytes_ = 0;
};

}  // namespace qm
