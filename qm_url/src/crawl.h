// The crawl: the loop that visits the queue of a crawl state, fetching, scanning and saving
// each item, and the fix-up pass that leaves no saved page naming a file that is not there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crawl_policy.h"
#include "crawl_state.h"
#include "qm_url.h"

namespace qm {

struct SaveContext;

// How a crawl ended.
enum class CrawlOutcome {
    kDone,             // the queue was exhausted or the depth stop reached
    kStopped,          // the call's stop was raised
    kNoMemory,         // the page buffers could not be had
    kStartPageFailed,  // the start page was to be saved but could not be fetched or placed
    kBudgetReached,    // the save budget left items out (reported to the failure callback)
};

// Sets a crawl of `url` into `savePath` up, both having passed CheckCrawlArguments: resets
// the state, hands it `policy`, derives the save folder and makes the start record. False, with the state
// untouched, for a save path of LOCAL_PATH_SIZE characters or more; false after the reset
// for a URL of URL_TEXT_SIZE characters or more.
bool StartCrawl(CrawlState& state, const char* url, size_t urlLength, const char* savePath,
                size_t pathLength, const CrawlPolicy& policy);

// Visits the queue StartCrawl made, from record 0, between the policy's Begin and End, then
// mends the saved pages that name items this crawl did not save after all. Records are made
// and fetched within the state's budget; where it left an item out, that is reported once,
// after the fix-up. Every fetch runs within `context`: its stop, its connections and its
// cookies.
CrawlOutcome VisitQueue(SaveContext& context, CrawlState& state, const SaveOptions& options,
                        SavePageCallback callback);

// The fix-up pass: every local reference written to an item that was not saved becomes its
// address. Reads and writes only the pages that hold such references.
void MendSavedPages(CrawlState& state);

}  // namespace qm
