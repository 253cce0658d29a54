// The library's paths on a POSIX system: every backslash is a folder separator, as it is on
// Windows, so it becomes '/' before the system sees the path.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/temp_name.h"

namespace qm::platform {
namespace {

std::string SystemPath(const char* path) {
    std::string s(path);
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
    int rc = type == FTW_DP ? ::rmdir(path) : ::unlink(path);
    return rc == 0 ? 0 : -1;
}

}  // namespace

void CreateFoldersFor(const char* filePath) {
    std::string path = SystemPath(filePath);
    size_t last = path.rfind('/');
    if (last != std::string::npos && last > 0) {
        // Usually the folder is there already, or only it is missing: one call settles that.
        std::string folder = path.substr(0, last);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno == ENOENT) {
            for (size_t slash = path.find('/', 1); slash != std::string::npos && slash <= last;
                 slash = path.find('/', slash + 1)) {
                if (path[slash - 1] == '/') continue;
                path[slash] = '\0';
                ::mkdir(path.c_str(), 0777);  // an existing folder is what we want
                path[slash] = '/';
            }
        }
    }
    ::rmdir(path.c_str());  // only ever succeeds on an empty folder
}

bool FileExists(const char* path) {
    // Non-blocking, so a FIFO standing at the path cannot hold the crawl.
    int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

bool PathExists(const char* path) {
    struct stat st;
    return ::lstat(SystemPath(path).c_str(), &st) == 0;
}

bool WriteFileAtomically(const char* path, const char* data, size_t size) {
    std::string target = SystemPath(path);
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);

    // A short name, so the temporary path is hardly longer than the final one.
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 64 && fd < 0; ++attempt) {
        char name[16];
        TempName(attempt, name);
        temp = folder + name;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = WriteAll(fd, data, size);
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool TempFile::Create(const char* finalPath) {
    Remove();
    std::string target = SystemPath(finalPath);
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        char name[16];
        TempName(attempt, name);
        std::string temp = folder + name;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            handle_ = fd;
            path_ = temp;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool TempFile::Append(const char* data, size_t size) {
    return handle_ != kNoHandle && WriteAll(static_cast<int>(handle_), data, size);
}

bool TempFile::RenameTo(const char* path) {
    if (handle_ == kNoHandle) return false;
    bool ok = ::close(static_cast<int>(handle_)) == 0;
    handle_ = kNoHandle;
    ok = ok && ::rename(path_.c_str(), SystemPath(path).c_str()) == 0;
    if (!ok) ::unlink(path_.c_str());
    path_.clear();
    return ok;
}

void TempFile::Remove() {
    if (handle_ == kNoHandle) return;
    ::close(static_cast<int>(handle_));
    ::unlink(path_.c_str());
    handle_ = kNoHandle;
    path_.clear();
}

bool RenameToNew(const char* from, const char* to) {
    std::string source = SystemPath(from), target = SystemPath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system without the exclusive rename: look first.
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    return ::lstat(target.c_str(), &st) != 0 && ::rename(source.c_str(), target.c_str()) == 0;
}

bool DeleteTree(const char* path) {
    std::string target = SystemPath(path);
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0) return false;
    return ::nftw(target.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

int64_t FileSize(const char* path) {
    struct stat st;
    if (::stat(SystemPath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t FileWrittenAt(const char* path) {
    struct stat st;
    if (::stat(SystemPath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_mtime);
}

bool SetFileWrittenAt(const char* path, int64_t unixSeconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(unixSeconds);
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, SystemPath(path).c_str(), times, 0) == 0;
}

bool ReadFileInPieces(const char* path, const std::function<bool(const char*, size_t)>& take) {
    std::FILE* f = std::fopen(SystemPath(path).c_str(), "rb");
    if (f == nullptr) return false;
    std::string block(65536, '\0');
    size_t n;
    bool taken = true;
    while (taken && (n = std::fread(&block[0], 1, block.size(), f)) > 0)
        taken = take(block.data(), n);
    bool ok = taken && std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

}  // namespace qm::platform
