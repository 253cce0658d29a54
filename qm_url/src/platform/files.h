// The file system as the crawl needs it. Paths are the library's own: folders are separated
// by backslashes (a slash and a drive colon are understood too); the POSIX side maps every
// backslash to '/' before it asks the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A file written in pieces under a temporary name in the folder of the file it is to become,
// and renamed to that name once whole. One that is not renamed is removed with this object.
class TempFile {
public:
    TempFile() = default;
    ~TempFile() { Remove(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates the temporary file beside `finalPath`, in its folder.
    bool Create(const char* finalPath);
    bool Append(const char* data, size_t size);
    // Closes the file and renames it to `path`, replacing an older file there.
    bool RenameTo(const char* path);
    // Closes and removes the file, if there is one.
    void Remove();
    bool open() const { return handle_ != kNoHandle; }
    const std::string& path() const { return path_; }

private:
    static constexpr intptr_t kNoHandle = -1;
    intptr_t handle_ = kNoHandle;
    std::string path_;  // the system's own path of the temporary file
};

// The size of the regular file at `path`; -1 when there is none.
int64_t FileSize(const char* path);
// When the file at `path` was last written, in seconds since 1970 (UTC); -1 when there is
// no such file.
int64_t FileWrittenAt(const char* path);
// Sets that time; false when it cannot be set.
bool SetFileWrittenAt(const char* path, int64_t unixSeconds);

// Hands the file at `path` to `take` from its start, a piece at a time, while `take` returns
// true. False when the file cannot be read or `take` refused a piece. A temporary file can
// be read so while its writer holds it open.
bool ReadFileInPieces(const char* path, const std::function<bool(const char*, size_t)>& take);

// Reads the whole file at `path` into `data`. False when it cannot be read.
inline bool ReadWholeFile(const char* path, std::string* data) {
    data->clear();
    return ReadFileInPieces(path, [data](const char* piece, size_t n) {
        data->append(piece, n);
        return true;
    });
}

// Deletes the folder `path` with everything in it. Links are removed, never followed.
bool DeleteTree(const char* path);

// Renames the file or folder `from` to `to` on the same disk. False, with nothing moved,
// when something stands at `to` already or the rename fails.
bool RenameToNew(const char* from, const char* to);

}  // namespace qm::platform
