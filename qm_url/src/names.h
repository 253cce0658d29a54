// The name of the file an item is saved under, unique within a save and safe to store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text_table.h"

#include "qm_url.h"

namespace qm {

enum NameMode : int32_t {
    NAME_MODE_FLAT = 1,     // one file name in the save folder
    NAME_MODE_FOLDERS = 2,  // host and folders become folders
};

// How a save lays out its files.
enum class NameLayout : uint8_t {
    // Pages, style sheets and frames flat in the save folder, every other item in the
    // folders of its host and path.
    kFlat,
    // Every item in the folders of its host and path, as the site has it: the paths a page
    // or its scripts make relative to its own address lead to the saved files.
    kSiteTree,
};

// The name mode of a record kind in `layout`.
NameMode NameModeOf(PageKind kind, NameLayout layout);

// The local name of `url` for an item of `kind`, relative to the save folder, with
// backslashes between folders. Every folder and file name is one Windows can store and none
// can climb out of the save folder. ".html" is added only where a page may be (to pages
// and frames without a known extension that is not a page's), ".css" to style sheets
// without it; a query goes before a known extension; a URL ending in '/' gets a name of
// its own (in the site's tree, "index" and the extension of its kind in that folder). A
// name longer than `size` - 1 is shortened with a hash of the URL. `url` is NUL-terminated
// and `length` characters long. Returns the name's length; 0 when no name fits.
size_t MakeLocalName(const char* url, size_t length, PageKind kind, NameLayout layout, char* name,
                     size_t size);
inline size_t MakeLocalName(const char* url, PageKind kind, char* name, size_t size,
                            NameLayout layout = NameLayout::kFlat) {
    return MakeLocalName(url, std::strlen(url), kind, layout, name, size);
}

// The reference from the file with local name `from` to the one named `to`, as a page
// there writes it: `to` relative to the folder of `from`, with ".." for each folder to
// climb and backslashes between folders, into `out`.
void RelativeName(std::string_view from, std::string_view to, std::string* out);

// The local names given out in one crawl, compared as a file system that ignores case does.
class NameRegistry {
public:
    void Clear();
    // Takes `name` for this crawl, changed where it clashes with a name taken before: a
    // file name taken, or a folder of that name, gets a hash of `url` before its extension;
    // a folder whose name a file took gets a '_' added. `*length` is the length of `name`
    // before and after. False when no name fits `size`.
    bool Claim(char* name, size_t* length, size_t size, const char* url);

private:
    TextTable taken_;             // every file and folder name given out, in lower case
    std::vector<bool> isFolder_;  // for each of them
};

// A short hash of `text`: eight hexadecimal digits.
void ShortHash(const char* text, char (&hex)[9]);

// Replaces every run of backslashes in `s` by a single one.
void CollapseBackslashes(char* s);

// The path an item is written to: the save folder, a backslash and its local name, with
// runs of backslashes collapsed. With an empty save folder the name alone, which the
// system takes relative to the current folder. Returns the path's length; 0 when it would
// not fit in `size`.
size_t JoinSaveFolder(const char* saveFolder, size_t folderLength, const char* localName,
                      size_t nameLength, char* path, size_t size);
inline size_t JoinSaveFolder(const char* saveFolder, const char* localName, char* path,
                             size_t size) {
    return JoinSaveFolder(saveFolder, std::strlen(saveFolder), localName, std::strlen(localName),
                          path, size);
}

}  // namespace qm
