#include "pictures.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "save_context.h"

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

// Moves this call's temporary folder out of the way, under a name that no call takes for
// its own temporary folder, and has `remover` delete it. The name is free again at once; a
// stopped call does not wait for the folder to go, a finished one does.
void DiscardTempFolder(const CrawlState& state, FolderRemover& remover, bool wait,
                       const StopToken& stop) {
    char path[kTempPathSize], away[kTempPathSize + 32];
    TempFolderPath(state.saveFolder, state.tempName, path);
    if (!platform::PathExists(path)) return;
    // Another process may discard into the same folder: the clock tells the names apart.
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    bool moved = false;
    for (unsigned attempt = 0; attempt < 64 && !moved; ++attempt) {
        std::snprintf(away, sizeof away, "%s\\~qm-gone-%08x", state.saveFolder,
                      static_cast<unsigned>(ticks) + attempt * 2654435761u);
        moved = platform::RenameToNew(path, away);
    }
    // A folder that cannot be renamed is deleted where it stands.
    uint64_t ticket = remover.Take(moved ? away : path);
    if (wait || !moved) remover.Wait(ticket, stop);
}

}  // namespace

bool PicturePolicy::Saves(PageKind kind, int32_t depth, bool, const SaveOptions& options) const {
    return kind == KIND_PICTURE || kind == KIND_STYLE_SHEET || kind == KIND_FRAME ||
           (kind == KIND_PAGE && depth <= options.maxDepth);
}

bool PicturePolicy::Place(const CrawlState& state, const PageRecord& r, const SaveOptions&,
                          char (&path)[LOCAL_PATH_SIZE]) const {
    std::memcpy(path, r.localPath, sizeof path);
    int32_t mode = r.kind == KIND_PICTURE ? kFlattenPicture : kIntoTempFolder;
    return AdjustPicturePath(state, path, static_cast<int32_t>(std::strlen(path)), mode) == 1;
}

void PicturePolicy::Begin(CrawlState& state) const {
    ChooseTempFolder(state.saveFolder, state.tempName);
}

void PicturePolicy::End(const SaveContext& context, const CrawlState& state, bool stopped) const {
    // Without a save folder the pages had nowhere to go, and nothing is deleted.
    if (state.saveFolder[0] != '\0' && state.tempName[0] != '\0')
        DiscardTempFolder(state, remover_, !stopped, context.stop);
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
