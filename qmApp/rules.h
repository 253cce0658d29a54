// The desktop program's small rules, apart from any window so that they are tested on
// every system: which addresses the save commands refuse, how a chosen page file is
// named, what a save mode asks of the library, and the renderer's job text.
#pragma once

#include <cstdint>
#include <string>

#include "qm_url.h"

// What "Save This Page" and "Save Multiple Pages" hand their progress dialog.
enum SaveMode : int32_t { kThisPage = 1, kLinkedPagesToo = 2 };
enum ContentMode : int32_t { kWordsOnly = 1, kComplete = 2 };

namespace rules {

// The save commands refuse an address beginning with "https://", "Https://" or "HTTPS://"
// exactly; any other mix of case passes (and fails later, as a page that cannot be had).
bool IsRefusedHttps(const char* url);

// The page file's name as the Save As dialog gave it, with ".html" appended unless it ends
// in exactly that (case-sensitive: "a.HTML" becomes "a.HTML.html").
std::string WithHtmlEnding(std::string path);

// The library options a pair of modes means: always pages, pictures when complete, the
// linked pages one level deep when asked for, other sites too. False, and *options
// untouched, for a mode the program does not know.
constexpr bool OptionsFor(int32_t saveMode, int32_t contentMode, SaveOptions* options) {
    const bool known = (contentMode == kWordsOnly || contentMode == kComplete) &&
                       (saveMode == kThisPage || saveMode == kLinkedPagesToo);
    if (!known) return false;
    options->savePages = 1;
    options->savePictures = contentMode == kComplete ? 1 : 0;
    options->sameSiteOnly = 0;
    options->maxDepth = saveMode == kLinkedPagesToo ? 1 : 0;
    return true;
}

// The renderer's job text for `url` and the picture path (without ".jpg"). False when it
// and its NUL would not fit the shared block: cut short, it would name another page or
// another file.
bool MakeRendererJob(const std::string& url, const std::string& path, std::string* job);

}  // namespace rules
