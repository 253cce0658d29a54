// What callers pass to the exports, checked once at the boundary with the pointer probes.
// Past these checks the library reads its arguments without probing again.
#pragma once

#include <cstddef>

#include "qm_url.h"

namespace qm {

// Measures the NUL-terminated `text` without reading memory that is not there. False when
// it cannot be read; a text of `limit` characters or more gives `limit`.
bool MeasureText(const char* text, size_t limit, size_t* length);

// The argument checks the crawling exports share: both texts readable and not empty, the
// options record readable (and writable, when the call writes it). The lengths are
// measured up to URL_TEXT_SIZE and LOCAL_PATH_SIZE; a longer text reports that limit.
bool CheckCrawlArguments(const char* url, const char* savePath, SaveOptions* options,
                         bool optionsWritten, size_t* urlLength, size_t* pathLength);

// Copies a caller's request into `usable` so that the fetch may read what it points at:
// false when the URL cannot be read as far as the fetch reads it. A referer that cannot be
// read is left out (null), as a missing one is.
bool ProbeRequest(const UrlRequest& request, UrlRequest* usable);

}  // namespace qm
