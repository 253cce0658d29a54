#include "pictures.h"

#include <cstdio>
#include <cstring>

#include "arguments.h"
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
        if (n == 0)
            std::snprintf(tempName, sizeof tempName, "temp");
        else
            std::snprintf(tempName, sizeof tempName, "temp-%d", n);
        TempFolderPath(saveFolder, tempName, path);
        if (!platform::PathExists(path)) return true;
    }
    tempName[0] = '\0';
    return false;
}

}  // namespace

extern "C" QM_API int32_t QM_CALL qm_SavePictures(const char* url, const char* savePath,
                                                  SaveOptions* options,
                                                  SavePageCallback callback) {
    CallScope scope;
    size_t urlLength, pathLength;
    if (!CheckCrawlArguments(url, savePath, options, true, &urlLength, &pathLength)) return 0;
    *options = SaveOptions{1, 1, 0, 0};
    try {
        CrawlState& state = ExportState();
        if (!StartCrawl(state, url, urlLength, savePath, pathLength, CrawlVariant::kPictures))
            return 0;
        ChooseTempFolder(state.saveFolder, state.tempName);
        CrawlOutcome outcome = VisitQueue(state, *options, callback);
        if (outcome == CrawlOutcome::kNoMemory) return 0;

        // Without a save folder the pages had nowhere to go, and nothing is deleted.
        if (state.saveFolder[0] != '\0' && state.tempName[0] != '\0') {
            char path[kTempPathSize];
            TempFolderPath(state.saveFolder, state.tempName, path);
            DeleteTempFolder(path);
        }
        return outcome == CrawlOutcome::kDone ? 1 : 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
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

int32_t DeleteTempFolder(const char* path) { return platform::DeleteTree(path) ? 1 : 0; }

}  // namespace qm
