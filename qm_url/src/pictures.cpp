#include "pictures.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "arguments.h"
#include "cookie_handle.h"
#include "crawl.h"
#include "platform/files.h"
#include "stop.h"

namespace qm {
namespace {

// Room for the save folder, a backslash and the temporary folder's name.
constexpr size_t kTempPathSize = LOCAL_PATH_SIZE + sizeof CrawlState::tempName + 1;

void TempFolderPath(const char* saveFolder, const char* name, char (&path)[kTempPathSize]) {
    std::snprintf(path, sizeof path, "%s\\%s", saveFolder, name);
}

// The name of this call's temporary folder inside the save folder: "temp", or the first of
// "temp-1", "temp-2", ... that nothing stands at yet. A folder of that name that the user
// already has is never used, so it can never be deleted with ours. False when every
// candidate is taken.
bool ChooseTempFolder(const char* saveFolder, char (&tempName)[16]) {
    char path[kTempPathSize];
    for (int n = 0; n < 1000; ++n) {
        if (n == 0) std::snprintf(tempName, sizeof tempName, "temp");
        else std::snprintf(tempName, sizeof tempName, "temp-%d", n);
        TempFolderPath(saveFolder, tempName, path);
        if (!platform::PathExists(path)) return true;
    }
    tempName[0] = '\0';
    return false;
}

// Deletes the folders handed to it on a thread of its own, one after the other, so that a
// call never waits for a large folder to go. At process end it finishes what is left.
class Remover {
public:
    ~Remover() {
        std::unique_lock<std::mutex> lock(mutex_);
        Join(lock);
        // A thread ended by the system at process exit may have left its folder behind.
        for (const std::string& path : pending_) platform::DeleteTree(path.c_str());
    }

    // Queues `path` and returns its ticket for Wait.
    uint64_t Take(std::string path) {
        std::unique_lock<std::mutex> lock(mutex_);
        pending_.push_back(std::move(path));
        if (!running_) {
            Join(lock);
            running_ = true;
            worker_ = std::thread([this] { Run(); });
        }
        return taken_ += 1;
    }

    // Waits until the folder of `ticket` is gone, or a stop is asked for.
    void Wait(uint64_t ticket) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (done_ < ticket && !StopRequested())
            changed_.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs));
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!pending_.empty()) {
            std::string path = pending_.front();
            lock.unlock();
            platform::DeleteTree(path.c_str());
            lock.lock();
            pending_.erase(pending_.begin());
            ++done_;
            changed_.notify_all();
        }
        running_ = false;
    }

    // Joins a worker that has ended its run (or is about to, with nothing left to do).
    void Join(std::unique_lock<std::mutex>& lock) {
        if (!worker_.joinable()) return;
        std::thread ended = std::move(worker_);
        lock.unlock();
        ended.join();
        lock.lock();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> pending_;
    std::thread worker_;
    bool running_ = false;
    uint64_t taken_ = 0;
    uint64_t done_ = 0;
};

Remover g_remover;

// Moves this call's temporary folder out of the way, under a name that no call takes for
// its own temporary folder, and has it deleted. The name is free again at once; a stopped
// call does not wait for the folder to go, a finished one does.
void DiscardTempFolder(const CrawlState& state, bool wait) {
    char path[kTempPathSize], away[kTempPathSize + 32];
    TempFolderPath(state.saveFolder, state.tempName, path);
    if (!platform::PathExists(path)) return;
    // Another process may discard into the same folder: the clock tells the names apart.
    static unsigned counter = 0;
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    bool moved = false;
    for (int attempt = 0; attempt < 64 && !moved; ++attempt) {
        std::snprintf(away, sizeof away, "%s\\~qm-gone-%08x", state.saveFolder,
                      static_cast<unsigned>(ticks) + counter++ * 2654435761u);
        moved = platform::RenameToNew(path, away);
    }
    // A folder that cannot be renamed is deleted where it stands.
    uint64_t ticket = g_remover.Take(moved ? away : path);
    if (wait || !moved) g_remover.Wait(ticket);
}

int32_t SavePicturesWithJar(const char* url, const char* savePath, SaveOptions* options,
                            SavePageCallback callback, ::CookieJar* handle) {
    CallScope scope;
    size_t urlLength, pathLength;
    CookieJar* given = nullptr;
    if (!CheckCrawlArguments(url, savePath, options, true, &urlLength, &pathLength) ||
        !JarOfHandle(handle, &given))
        return 0;
    *options = SaveOptions{1, 1, 0, 0};
    try {
        // Without a jar of the caller's, what the site sets lives for this save alone.
        CookieJar own;
        CrawlState& state = ExportState();
        if (!StartCrawl(state, url, urlLength, savePath, pathLength, CrawlVariant::kPictures))
            return 0;
        ChooseTempFolder(state.saveFolder, state.tempName);
        CookieJar& jar = given != nullptr ? *given : own;
        CrawlOutcome outcome = VisitQueue(state, *options, callback, jar);
        if (outcome == CrawlOutcome::kNoMemory) return 0;

        // Without a save folder the pages had nowhere to go, and nothing is deleted.
        if (state.saveFolder[0] != '\0' && state.tempName[0] != '\0')
            DiscardTempFolder(state, outcome != CrawlOutcome::kStopped);
        return outcome == CrawlOutcome::kDone ? 1 : 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

}  // namespace

extern "C" QM_API int32_t QM_CALL qm_SavePictures(const char* url, const char* savePath,
                                                  SaveOptions* options, SavePageCallback callback) {
    return SavePicturesWithJar(url, savePath, options, callback, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_SavePicturesWithCookies(const char* url, const char* savePath,
                                                             SaveOptions* options,
                                                             SavePageCallback callback,
                                                             ::CookieJar* jar) {
    return SavePicturesWithJar(url, savePath, options, callback, jar);
}

int32_t AdjustPicturePath(const CrawlState& state, char* localPath, int32_t length, int32_t mode) {
    const char* saveFolder = state.saveFolder;
    const char* tempName = state.tempName;
    char path[LOCAL_PATH_SIZE] = {};
    if (length < 0 || length >= LOCAL_PATH_SIZE) return 0;
    std::memcpy(path, localPath, length);

    if (mode == kFlattenPicture) {
        // Only the item's own name is flattened, never the save folder it lies in.
        size_t folderLength = std::strlen(saveFolder);
        size_t from = std::strncmp(path, saveFolder, folderLength) == 0 ? folderLength : 0;
        char* name = path + from;
        if (*name == '\\') ++name;  // the separator after a folder that ends in '/'
        if (*name == '\0') return 0;
        for (char* p = name; *p; ++p)
            if (*p == '\\') *p = '-';
    } else {
        if (tempName[0] == '\0') return 0;
        int32_t cut = length - 1;
        while (cut >= 1 && path[cut] != '\\' && path[cut] != '/') --cut;
        if (cut < 1) return 0;
        size_t insertLength = 1 + std::strlen(tempName);
        if (length + insertLength >= LOCAL_PATH_SIZE) return 0;
        std::memmove(path + cut + insertLength, path + cut, length - cut);
        path[cut] = '\\';
        std::memcpy(path + cut + 1, tempName, insertLength - 1);
    }
    std::memcpy(localPath, path, LOCAL_PATH_SIZE);  // the zeros after the path too
    return 1;
}

}  // namespace qm
