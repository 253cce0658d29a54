// The file system as the crawl needs it. Paths are the library's own: folders are separated
// by backslashes (a slash and a drive colon are understood too); the POSIX side maps every
// backslash to '/' before it asks the system.
#pragma once

#include <cstddef>
#include <string>

namespace qm::platform {

// Creates every folder the file at `filePath` needs. A folder that stood, empty, where the
// file itself is to go is removed, so the file can take its place.
void CreateFoldersFor(const char* filePath);

// True when `path` names a file that can be opened for reading.
bool FileExists(const char* path);

// True when anything (file or folder) stands at `path`.
bool PathExists(const char* path);

// Writes `size` bytes to `path`: first under a temporary name in the same folder, then
// renamed into place, replacing an older file. A failed or interrupted write leaves no file
// under `path` and removes the temporary one.
bool WriteFileAtomically(const char* path, const char* data, size_t size);

// Reads the whole file at `path` into `data`. False when it cannot be read.
bool ReadWholeFile(const char* path, std::string* data);

// Deletes the folder `path` with everything in it. Links are removed, never followed.
bool DeleteTree(const char* path);

// Renames the file or folder `from` to `to` on the same disk. False, with nothing moved,
// when something stands at `to` already or the rename fails.
bool RenameToNew(const char* from, const char* to);

}  // namespace qm::platform
