#include "pictures.h"

#include <cstdio>
#include <cstring>

#include "arguments.h"
#include "crawl.h"
#include "platform/files.h"
#include "stop.h"

namespace qm {
namespace {

// Name of this call's temporary folder inside the save folder. A folder of that name that
// the user already has is never used, so it can never be deleted with ours.
char g_tempName[16] = "temp";

// Room for the save folder, a backslash and the temporary folder's name.
constexpr size_t kTempPathSize = LOCAL_PATH_SIZE + sizeof g_tempName + 1;

void TempFolderPath(const char* saveFolder, const char* name, char (&path)[kTempPathSize]) {
    std::snprintf(path, sizeof path, "%s\\%s", saveFolder, name);
}

// "temp", or the first of "temp-1", "temp-2", ... that nothing stands at yet. False when
// every candidate is taken.
bool ChooseTempFolder(const char* saveFolder) {
    char path[kTempPathSize];
    for (int n = 0; n < 1000; ++n) {
        if (n == 0)
            std::snprintf(g_tempName, sizeof g_tempName, "temp");
        else
            std::snprintf(g_tempName, sizeof g_tempName, "temp-%d", n);
        TempFolderPath(saveFolder, g_tempName, path);
        if (!platform::PathExists(path)) return true;
    }
    g_tempName[0] = '\0';
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
        if (!StartCrawl(url, urlLength, savePath, pathLength)) return 0;
        ChooseTempFolder(g_saveFolder);
        CrawlOutcome outcome = VisitQueue(*options, callback, CrawlVariant::kPictures);
        if (outcome == CrawlOutcome::kNoMemory) return 0;

        // Without a save folder the pages had nowhere to go, and nothing is deleted.
        if (g_saveFolder[0] != '\0' && g_tempName[0] != '\0') {
            char path[kTempPathSize];
            TempFolderPath(g_saveFolder, g_tempName, path);
            DeleteTempFolder(path);
        }
        return outcome == CrawlOutcome::kDone ? 1 : 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

int32_t AdjustPicturePath(char* localPath, int32_t length, int32_t mode) {
    char path[LOCAL_PATH_SIZE] = {};
    if (length < 0 || length >= LOCAL_PATH_SIZE) return 0;
    std::memcpy(path, localPath, length);

    if (mode == kFlattenPicture) {
        // Only the item's own name is flattened, never the save folder it lies in.
        size_t folderLength = std::strlen(g_saveFolder);
        size_t from = std::strncmp(path, g_saveFolder, folderLength) == 0 ? folderLength : 0;
        char* name = std::strstr(path + from, "http-");
        char* secureName = std::strstr(path + from, "https-");
        if (name == nullptr || (secureName != nullptr && secureName < name)) name = secureName;
        if (name == nullptr) return 0;
        for (char* p = name; *p; ++p)
            if (*p == '\\') *p = '-';
    } else {
        if (g_tempName[0] == '\0') return 0;
        int32_t cut = length - 1;
        while (cut >= 1 && path[cut] != '\\') --cut;
        if (cut < 1) return 0;
        size_t insertLength = 1 + std::strlen(g_tempName);
        if (length + insertLength >= LOCAL_PATH_SIZE) return 0;
        std::memmove(path + cut + insertLength, path + cut, length - cut);
        path[cut] = '\\';
        std::memcpy(path + cut + 1, g_tempName, insertLength - 1);
    }
    std::memcpy(localPath, path, LOCAL_PATH_SIZE);  // the zeros after the path too
    return 1;
}

int32_t DeleteTempFolder(const char* path) { return platform::DeleteTree(path) ? 1 : 0; }

}  // namespace qm
