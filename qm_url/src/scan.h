// The page scan: finds the pictures, frames, style sheets and links of a fetched page, frame
// or style sheet, queues a record for each, and rewrites each reference so that the saved
// copy points at the saved item (or, for an item that is not saved, at its address online).
#pragma once

#include <cstdint>

#include "qm_url.h"

namespace qm {

// Scans `*length` bytes of `text` (a page buffer of FETCH_BUFFER_SIZE bytes) once, writing
// the rewritten text through `scratch` (another FETCH_BUFFER_SIZE bytes) back into `text`,
// and updates `*length`. Found items are queued behind the record being visited.
// 1 when the whole text was scanned; 0 when the page table ran out (the text is rewritten
// up to that point and kept as it was after it).
int32_t ScanAndRewritePage(char* text, int32_t* length, const SaveOptions* options,
                           char* scratch);

// At `*position`, recognise an img tag and its src value: on success the value runs from
// `*tokenStart` + 1 to the new `*position`. False, with both unchanged, otherwise.
bool FindImageSource(const char* text, int32_t end, int32_t* position, int32_t* tokenStart);
// The same for a frame tag opening.
bool FindFrameSource(const char* text, int32_t end, int32_t* position, int32_t* tokenStart);

}  // namespace qm
