// The page table and the crawl: a fixed pool of page records through which the queue of
// items still to visit is threaded, and the loop that visits them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qm_url.h"

namespace qm {

// Process-wide crawl state. One crawl at a time per process.
extern PageRecord g_pageTable[PAGE_TABLE_SIZE];
extern int32_t g_currentIndex;  // record being visited; NO_RECORD once the queue is done
extern int32_t g_tailIndex;     // last record of the queue
extern char g_saveFolder[LOCAL_PATH_SIZE];

// Clears what the previous crawl used, and the save folder and indices.
void ResetPageTable();

// Index of the lowest-numbered free record, now in use; NO_RECORD when none is free.
int32_t AllocatePageRecord();
// Gives a record back to the pool; its contents stay until it is taken again.
void ReleasePageRecord(int32_t index);

// Links the records found on the page being visited into the queue: embedded items right
// after it, links at the end. Either group may be empty (NO_RECORD).
void SpliceFoundItems(int32_t embeddedHead, int32_t embeddedTail, int32_t linkHead,
                      int32_t linkTail);

// How the crawl loop treats each visited record.
enum class CrawlVariant {
    kPages,     // option skips apply, files go where the names say
    kPictures,  // no option skips; pictures flattened, everything else into the temp folder
};

// How a crawl ended.
enum class CrawlOutcome {
    kDone,             // the queue was exhausted or the depth stop reached
    kStopped,          // qm_StopSave asked for the end
    kNoMemory,         // the page buffers could not be had
    kStartPageFailed,  // the start page was to be saved but could not be fetched or placed
};

// Sets a crawl of `url` into `savePath` up, both having passed CheckCrawlArguments: resets
// the table, derives the save folder and makes the start record. False, with the library
// state untouched, for a save path of LOCAL_PATH_SIZE characters or more; false after the
// reset for a URL of URL_TEXT_SIZE characters or more.
bool StartCrawl(const char* url, size_t urlLength, const char* savePath, size_t pathLength);

// Visits the queue StartCrawl made, from record 0.
CrawlOutcome VisitQueue(const SaveOptions& options, SavePageCallback callback,
                        CrawlVariant variant);

}  // namespace qm
