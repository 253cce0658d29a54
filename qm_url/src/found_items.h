// Adding a record for an item found on the page being visited: the URL index decides
// whether it is new, whether this crawl saves it, and under which local name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crawl_state.h"
#include "qm_url.h"

namespace qm {

// The records found on one page, in two chains in the order found: embedded items and links.
struct FoundGroups {
    int32_t embeddedHead = NO_RECORD, embeddedTail = NO_RECORD;
    int32_t linkHead = NO_RECORD, linkTail = NO_RECORD;
};

// What the items found on one page share, worked out once for the page.
struct FoundOnPage {
    size_t folderLength = 0;   // of the save folder
    size_t refererLength = 0;  // of the page's URL
    size_t room = 0;           // for a local name beside the save folder and its separator
    int32_t depth = 0;         // of the page
    int32_t level = 0;         // of embedding, of the page
};
// Those of the current page of `state`.
FoundOnPage PageFacts(CrawlState& state);

// What the page is to name an item by.
struct ItemChoice {
    int32_t entry = -1;         // its entry in the URL index
    bool local = false;         // true: its local name; false: its address
    bool outOfRecords = false;  // no record was free: nothing was added
};

// The item at `url` (absolute, NUL-terminated, `length` characters), named on the current
// page as `kind`. A URL met before keeps its fate; a new one that this crawl saves gets a
// record in `groups` and a unique local name.
ItemChoice AddFoundItem(CrawlState& state, const FoundOnPage& found, FoundGroups& groups,
                        const char* url, size_t length, PageKind kind, bool sameSite,
                        const SaveOptions& options);

}  // namespace qm
