#include "callers_request.h"

#include <algorithm>
#include <cstring>

#include "arguments.h"
#include "cookie_handle.h"
#include "export_call.h"
#include "fetch.h"
#include "platform/probe.h"
#include "save_context.h"

namespace qm {
namespace {

// The URL of a request that passed the probes, as far as it can be shown.
void CopyUrl(const UrlRequest& request, char (&url)[URL_TEXT_SIZE]) {
    size_t length = request.urlLength == 0 ? strnlen(request.url, kLongestUrl + 1)
                                           : static_cast<size_t>(request.urlLength);
    if (request.urlLength < 0 || length > static_cast<size_t>(kLongestUrl)) length = 0;
    length = std::min(length, sizeof url - 1);
    std::memcpy(url, request.url, length);
    url[length] = '\0';
}

}  // namespace

FetchResult FetchCallersRequest(SaveContext& context, UrlRequest& request, BodySink* body,
                                bool followRedirects) {
    UrlRequest usable;
    if (!ProbeRequest(request, &usable)) {
        context.failures.Report(NO_RECORD, nullptr, "", FetchStatus::kBadUrl);
        return FetchStatus::kBadUrl;
    }
    FetchResult result;
    if (followRedirects) {
        char finalUrl[URL_TEXT_SIZE];
        result =
            FetchFollowing(usable, body, finalUrl, &context.pool, context.Limits(), &context.jar);
    } else {
        Response response;
        result = FetchOnce(usable, RedirectPolicy::kReturn, context.Limits(), &response, body,
                           &context.pool, &context.jar);
    }
    // A measured referer length goes back into the caller's record; a record that was only
    // readable is not written otherwise.
    if (usable.refererLength != request.refererLength) request.refererLength = usable.refererLength;
    if (result.ok() && body->cut()) result = CutResult(body->size());
    if (!result.ok()) {
        char url[URL_TEXT_SIZE];
        CopyUrl(usable, url);
        context.failures.Report(NO_RECORD, nullptr, url, result);
    }
    return result;
}

FetchResult FetchCallersRequest(SaveContext& context, UrlRequest& request, char* output,
                                int32_t* outputLength, bool followRedirects) {
    BodySink body(FETCH_BUFFER_SIZE);
    FetchResult result = FetchCallersRequest(context, request, &body, followRedirects);
    result = IntoBuffer(result, body, output, outputLength);
    // The cut text is still the caller's: the failure callback was told where it ends.
    return result.status == FetchStatus::kCut ? FetchResult(FetchStatus::kOk) : result;
}

}  // namespace qm

namespace {

int32_t FetchForCaller(UrlRequest* request, char* output, int32_t* outputLength,
                       bool followRedirects, CookieJar* handle) {
    qm::ExportCall call;
    qm::CookieJar* given = nullptr;
    if (!qm::platform::ProbeReadable(request, sizeof(UrlRequest)) ||
        !qm::platform::ProbeWritable(output, 1) || !qm::platform::ProbeWritable(outputLength, 1) ||
        !qm::JarOfHandle(handle, &given)) {
        call.failures.Report(NO_RECORD, nullptr, "", qm::FetchStatus::kBadUrl);
        return 0;
    }
    try {
        qm::SaveContext& context = call.Begin(given);
        return qm::FetchCallersRequest(context, *request, output, outputLength, followRedirects)
                       .ok()
                   ? 1
                   : 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

}  // namespace

extern "C" QM_API int32_t QM_CALL qm_UrlToHtml(UrlRequest* request, char* output,
                                               int32_t* outputLength, int32_t /*reserved*/) {
    return FetchForCaller(request, output, outputLength, false, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_UrlToHtmlFollow(UrlRequest* request, char* output,
                                                     int32_t* outputLength, int32_t /*reserved*/) {
    return FetchForCaller(request, output, outputLength, true, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_UrlToHtmlWithCookies(UrlRequest* request, char* output,
                                                          int32_t* outputLength,
                                                          int32_t followRedirects, CookieJar* jar) {
    return FetchForCaller(request, output, outputLength, followRedirects != 0, jar);
}
