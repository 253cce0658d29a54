// The page scan: reads the references of a fetched page, frame or style sheet, adds a record
// for each item to save, and rewrites each reference value so that the saved copy points at
// the saved item (or, for an item that is not saved, at its address online). Nothing but
// reference values changes.
#pragma once

#include <cstdint>
#include <vector>

#include "bounded_text.h"
#include "crawl_state.h"
#include "platform/stop_token.h"
#include "qm_url.h"
#include "references.h"

namespace qm {

enum class ScanResult {
    kComplete,
    kOutOfRecords,  // the page table ran out: items found after that are named by their address
    kStopped,       // `stop` ended the scan: the text is not to be saved
};

// Scans `length` bytes of `text` once, writing the rewritten text to `out` (a buffer of
// FETCH_BUFFER_SIZE bytes) and its length to `*outLength`. Found items are queued behind the
// current record of `state`. `spots` receives where the text names, by local name, an item
// not saved yet. The scan ends early once `stop` is raised.
ScanResult ScanAndRewritePage(CrawlState& state, const char* text, int32_t length, TextKind kind,
                              const SaveOptions& options, char* out, int32_t* outLength,
                              std::vector<LocalSpot>* spots, const StopToken& stop);

// Writes `s` as a reference value stands in `context` (ValueContext): a local name with '/'
// between folders and the characters a browser would decode or cut at %-encoded, an
// address or a fragment with the escapes its place needs.
void AppendValue(const char* s, size_t n, bool localName, uint8_t context, BoundedText& out);

}  // namespace qm
