#include "arguments.h"

#include <cstdint>

#include "request_sizes.h"
#include "platform/probe.h"

namespace qm {

bool MeasureText(const char* text, size_t limit, size_t* length) {
    constexpr uintptr_t kPage = 4096;
    if (!platform::ProbeReadable(text, 1)) return false;
    // Each further memory page is probed before the first byte of it is read.
    uintptr_t nextPage = (reinterpret_cast<uintptr_t>(text) | (kPage - 1)) + 1;
    size_t n = 0;
    for (; n < limit; ++n) {
        if (reinterpret_cast<uintptr_t>(text + n) == nextPage) {
            if (!platform::ProbeReadable(text + n, 1)) return false;
            nextPage += kPage;
        }
        if (text[n] == '\0') break;
    }
    *length = n;
    return true;
}

bool CheckCrawlArguments(const char* url, const char* savePath, SaveOptions* options,
                         bool optionsWritten, size_t* urlLength, size_t* pathLength) {
    // Measuring probes the texts as it goes.
    if (!MeasureText(url, URL_TEXT_SIZE, urlLength) ||
        !MeasureText(savePath, LOCAL_PATH_SIZE, pathLength))
        return false;
    if (*urlLength == 0 || *pathLength == 0) return false;
    return optionsWritten ? platform::ProbeWritable(options, sizeof *options)
                          : platform::ProbeReadable(options, sizeof *options);
}

bool ProbeRequest(const UrlRequest& request, UrlRequest* usable) {
    *usable = request;
    // The fetch measures a URL of length 0 up to its NUL, looking at no more than one
    // character past the longest it takes; a given length is read as it stands.
    size_t measured = 0;
    if (request.urlLength == 0) {
        if (!MeasureText(request.url, kLongestUrl + 1, &measured)) return false;
    } else if (!platform::ProbeReadable(request.url, 1)) {
        return false;
    } else if (request.urlLength > 0 && request.urlLength <= kLongestUrl &&
               !platform::ProbeReadable(request.url, static_cast<size_t>(request.urlLength))) {
        return false;
    }

    // A referer of length 0 is measured up to its NUL, however far that is; one of 256 or
    // more characters, or of a negative length, is never read.
    const char* referer = request.referer;
    bool readable;
    if (referer == nullptr) {
        readable = true;
    } else if (request.refererLength == 0) {
        readable = MeasureText(referer, SIZE_MAX, &measured);
    } else if (request.refererLength > 0 &&
               request.refererLength < static_cast<int32_t>(kPathSize)) {
        readable = platform::ProbeReadable(referer, static_cast<size_t>(request.refererLength));
    } else {
        readable = true;
    }
    if (!readable) usable->referer = nullptr;
    return true;
}

}  // namespace qm
