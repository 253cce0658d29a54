// qm_WriteSingleFile: a page saved by the crawling exports, written as one file.
#include <cstdint>
#include <cstring>

#include "export_call.h"
#include "single_file.h"

namespace qm {
namespace {

bool UsablePath(const char* path) {
    return path != nullptr && *path != '\0' && std::strlen(path) < LOCAL_PATH_SIZE;
}

int32_t WriteSingle(const char* saveFolder, const char* savedPage, const char* filePath,
                    int64_t mostBytes) {
    ExportCall call;
    if (!UsablePath(saveFolder) || !UsablePath(savedPage) || !UsablePath(filePath) ||
        mostBytes < 0)
        return 0;
    try {
        SaveContext& context = call.Begin(nullptr);
        const FetchResult result =
            WriteSingleFile(saveFolder, savedPage, filePath, mostBytes, context.stop);
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
                                                     const char* filePath, int64_t mostBytes) {
    return qm::WriteSingle(saveFolder, savedPage, filePath, mostBytes);
}
