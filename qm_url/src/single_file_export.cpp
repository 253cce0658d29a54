// qm_WriteSingleFile: a page saved by the crawling exports, written as one file.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "export_call.h"
#include "single_file.h"

namespace qm {
namespace {

bool UsablePath(const char* path) {
    return path != nullptr && *path != '\0' && std::strlen(path) < LOCAL_PATH_SIZE;
}

int32_t WriteSingle(const char* saveFolder, const char* savedPage, const char* filePath,
                    int64_t mostBytes, const char* const* loadNames, const char* const* loadFiles,
                    int32_t loadCount) {
    ExportCall call;
    if (!UsablePath(saveFolder) || !UsablePath(savedPage) || !UsablePath(filePath) ||
        mostBytes < 0 || loadCount < 0 ||
        (loadCount > 0 && (loadNames == nullptr || loadFiles == nullptr)))
        return 0;
    try {
        std::vector<ScriptLoad> loads;
        for (int32_t i = 0; i < loadCount; ++i)
            if (loadNames[i] != nullptr && *loadNames[i] != '\0' &&
                std::strlen(loadNames[i]) < URL_TEXT_SIZE && UsablePath(loadFiles[i]))
                loads.push_back({loadNames[i], loadFiles[i]});
        SaveContext& context = call.Begin(nullptr);
        const FetchResult result =
            WriteSingleFile(saveFolder, savedPage, filePath, mostBytes, loads, context.stop);
        if (result.ok()) return 1;
        context.failures.Report(NO_RECORD, nullptr, savedPage, result);
        return 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

}  // namespace
}  // namespace qm

extern "C" QM_API int32_t QM_CALL qm_WriteSingleFile(const char* saveFolder, const char* savedPage,
                                                     const char* filePath, int64_t mostBytes,
                                                     const char* const* loadNames,
                                                     const char* const* loadFiles,
                                                     int32_t loadCount) {
    return qm::WriteSingle(saveFolder, savedPage, filePath, mostBytes, loadNames, loadFiles,
                           loadCount);
}
