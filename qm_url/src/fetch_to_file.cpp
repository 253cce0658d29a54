// Fetching one URL straight into a file: the body goes to a temporary file beside it as it
// arrives, so its size is bounded by the disk, not by memory, and the file appears only
// once the body is whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "arguments.h"
#include "body_sink.h"
#include "callers_request.h"
#include "cookie_handle.h"
#include "cookie_jar.h"
#include "export_call.h"
#include "platform/probe.h"

namespace qm {
namespace {

// What stays in memory of a body that goes to a file.
constexpr size_t kInMemory = 1 << 20;
// The longest file path taken.
constexpr size_t kLongestPath = 4096;

int32_t FetchToFile(ExportCall& call, UrlRequest* request, const char* filePath, int64_t mostBytes,
                    bool followRedirects, ::CookieJar* handle) {
    size_t pathLength = 0;
    CookieJar* given = nullptr;
    if (!platform::ProbeReadable(request, sizeof *request) ||
        !MeasureText(filePath, kLongestPath, &pathLength) || pathLength == 0 ||
        pathLength == kLongestPath || !JarOfHandle(handle, &given)) {
        call.failures.Report(NO_RECORD, nullptr, "", FetchStatus::kBadUrl);
        return 0;
    }
    const std::string path(filePath, pathLength);
    BodySink body(kInMemory, path, mostBytes < 0 ? -1 : mostBytes);
    SaveContext& context = call.Begin(given);
    if (!FetchCallersRequest(context, *request, &body, followRedirects).ok() ||
        context.stop.requested())
        return 0;
    if (body.SaveAs(path.c_str())) return 1;
    // The URL passed the fetch's probes, as far as it reads it.
    const std::string url(request->url, strnlen(request->url, URL_TEXT_SIZE - 1));
    context.failures.Report(NO_RECORD, nullptr, url.c_str(), FetchStatus::kWriteFailed);
    return 0;
}

}  // namespace
}  // namespace qm

extern "C" QM_API int32_t QM_CALL qm_UrlToFile(UrlRequest* request, const char* filePath,
                                               int64_t mostBytes, int32_t followRedirects,
                                               CookieJar* jar) {
    qm::ExportCall call;
    try {
        return qm::FetchToFile(call, request, filePath, mostBytes, followRedirects != 0, jar);
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

extern "C" QM_API int32_t QM_CALL qm_OldSavePages(UrlRequest* request, const char* filePath,
                                                  const void* reserved) {
    qm::ExportCall call;
    if (!qm::platform::ProbeReadable(reserved, 16)) return 0;
    try {
        return qm::FetchToFile(call, request, filePath, SAVE_BUDGET_BYTES, false, nullptr);
    } catch (...) {
        return 0;
    }
}
