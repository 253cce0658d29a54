// One page saved with its items, written as one HTML file that needs nothing else: every
// local reference of the page, its frames and its style sheets is written in a new form, the
// item inside it. Pictures, fonts and media become data: URLs; a linked style sheet becomes
// a style element holding the sheet (its imports data: URLs); a script is inlined as it came;
// an iframe gets its document as srcdoc, a frame as a data: URL. References the save left
// online, links and names a script makes stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fetch_status.h"
#include "platform/stop_token.h"

namespace qm {

// Writes `savedPage`, a page saved into `saveFolder` (its references read against its own
// folder, never reaching above `saveFolder`), as one file at `filePath`: under a temporary
// name beside it, renamed into place once whole. A file that would pass `mostBytes` is not
// written (kTooLarge). Items embedded in embedded items are written MOST_EMBEDDING_LEVELS
// deep; deeper ones, and those that embed themselves, are written empty, as a browser cuts
// such a chain. What the page's scripts load by names they make at run time (`scriptLoads`)
// goes into a loader before its first script.
struct ScriptLoad {
    std::string name;  // as the scripts name it, relative to the page
    std::string file;  // the file below the save folder that holds it
};
FetchResult WriteSingleFile(const char* saveFolder, const char* savedPage, const char* filePath,
                            int64_t mostBytes, const std::vector<ScriptLoad>& scriptLoads,
                            const StopToken& stop);

}  // namespace qm
