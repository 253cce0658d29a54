// Saving the pictures of one page flat into a folder: the crawl with fixed options, the
// page and its frames and style sheets kept in a temporary folder that goes at the end
// (without holding up a stopped call: it is renamed and deleted in the background).
#pragma once

#include <cstdint>

#include "crawl_state.h"

namespace qm {

// Modes of AdjustPicturePath.
constexpr int32_t kFlattenPicture =
    1;  // folder\http-\host\dir\a.gif -> folder\http--host-dir-a.gif
constexpr int32_t kIntoTempFolder = 2;  // folder\name -> folder\temp\name

// Rewrites the record path `localPath` (LOCAL_PATH_SIZE bytes, `length` characters) for
// the picture crawl of `state`, whose save folder and temporary folder it uses. 1 on success; 0, with the path unchanged, when it has not the form
// the mode needs or would not fit.
int32_t AdjustPicturePath(const CrawlState& state, char* localPath, int32_t length, int32_t mode);

}  // namespace qm
