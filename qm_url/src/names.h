// What a reference found on a page stands for: its absolute URL, whether it is on the page's
// own site, and the name of the file it is saved under.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qm_url.h"

namespace qm {

enum NameMode : int32_t {
    NAME_MODE_FLAT = 1,     // pages, style sheets, frames: one file name in the save folder
    NAME_MODE_FOLDERS = 2,  // pictures: the URL's host and folders become folders
};

// How a reference reads once its scheme is looked at.
enum class ReferenceScheme {
    kHttp,      // an http or https URL, absolute or relative to the page
    kOther,     // mailto:, javascript:, data:, ftp:, ... : not ours to fetch or rename
};

ReferenceScheme SchemeOf(const char* reference, size_t length);

// Resolves `reference` (no fragment, entities already undone) against the page URL `base`.
// `url` receives the absolute URL, NUL-terminated, with a lower-case "http://" or "https://"
// (a reference without a scheme of its own takes the page's). False when no http or https
// URL of fewer than URL_TEXT_SIZE characters results.
bool ResolveUrl(const char* base, const char* reference, size_t length,
                char (&url)[URL_TEXT_SIZE]);

// True when `url` has the same scheme and host as `pageUrl`.
bool IsSameSite(const char* url, const char* pageUrl);

// The local name of `url` in the given mode, relative to the save folder, with backslashes
// between folders. Every folder and file name is one Windows can store and none can climb
// out of the save folder. False when the name would not begin with "http-" or "https-", or
// not fit.
bool MakeLocalName(const char* url, NameMode mode, char* name, size_t size);

// Fills the url, sameSite and localPath (the local name) of record `recordIndex` for the
// reference `token`, found on the page being visited. False when no usable URL results.
bool MakeItemNames(const char* token, int32_t recordIndex, int32_t mode);

// Replaces every run of backslashes in `s` by a single one.
void CollapseBackslashes(char* s);

// The path an item is written to: the save folder, a backslash and its local name, with
// runs of backslashes collapsed. With an empty save folder the name alone, which the
// system takes relative to the current folder. False when it would not fit in `size`.
bool JoinSaveFolder(const char* saveFolder, const char* localName, char* path, size_t size);

}  // namespace qm
