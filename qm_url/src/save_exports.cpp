// The crawling exports: qm_SavePages and qm_SavePictures, each also with the caller's cookie
// jar, and qm_SavePagesAsSite. They share one way in and differ only in the crawl's policy.
#include <cstddef>
#include <cstdint>

#include "arguments.h"
#include "cookie_handle.h"
#include "crawl.h"
#include "crawl_state.h"
#include "export_call.h"
#include "folder_remover.h"
#include "page_policy.h"
#include "pictures.h"

namespace qm {

CrawlState& ExportState() {
    static PageRecord table[PAGE_TABLE_SIZE];
    static CrawlState state(table);
    return state;
}

namespace {

// Deletes the picture saves' temporary folders in the background; it outlives every call.
FolderRemover& TheFolderRemover() {
    static FolderRemover remover;
    return remover;
}

int32_t Save(const CrawlPolicy& policy, const char* url, const char* savePath, SaveOptions* options,
             SavePageCallback callback, ::CookieJar* handle, bool optionsWritten) {
    ExportCall call;
    size_t urlLength, pathLength;
    CookieJar* given = nullptr;
    if (!CheckCrawlArguments(url, savePath, options, optionsWritten, &urlLength, &pathLength) ||
        !JarOfHandle(handle, &given))
        return 0;
    // A picture save runs with fixed options, and tells the caller so.
    if (optionsWritten) *options = SaveOptions{1, 1, 0, 0};
    try {
        SaveContext& context = call.Begin(given);
        CrawlState& state = ExportState();
        if (!StartCrawl(state, url, urlLength, savePath, pathLength, policy)) return 0;
        return VisitQueue(context, state, *options, callback) == CrawlOutcome::kDone ? 1 : 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

int32_t SavePages(const char* url, const char* savePath, SaveOptions* options,
                  SavePageCallback callback, ::CookieJar* jar) {
    const PagePolicy pages;
    return Save(pages, url, savePath, options, callback, jar, false);
}

int32_t SaveSite(const char* url, const char* savePath, SaveOptions* options,
                 SavePageCallback callback, ::CookieJar* jar) {
    const PagePolicy site(NameLayout::kSiteTree);
    return Save(site, url, savePath, options, callback, jar, false);
}

int32_t SavePictures(const char* url, const char* savePath, SaveOptions* options,
                     SavePageCallback callback, ::CookieJar* jar) {
    const PicturePolicy pictures(TheFolderRemover());
    return Save(pictures, url, savePath, options, callback, jar, true);
}

}  // namespace
}  // namespace qm

extern "C" QM_API int32_t QM_CALL qm_SavePages(const char* url, const char* savePath,
                                               SaveOptions* options, SavePageCallback callback) {
    return qm::SavePages(url, savePath, options, callback, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_SavePagesWithCookies(const char* url, const char* savePath,
                                                          SaveOptions* options,
                                                          SavePageCallback callback,
                                                          CookieJar* jar) {
    return qm::SavePages(url, savePath, options, callback, jar);
}

extern "C" QM_API int32_t QM_CALL qm_SavePagesAsSite(const char* url, const char* savePath,
                                                     SaveOptions* options,
                                                     SavePageCallback callback, CookieJar* jar) {
    return qm::SaveSite(url, savePath, options, callback, jar);
}

extern "C" QM_API int32_t QM_CALL qm_SavePictures(const char* url, const char* savePath,
                                                  SaveOptions* options, SavePageCallback callback) {
    return qm::SavePictures(url, savePath, options, callback, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_SavePicturesWithCookies(const char* url, const char* savePath,
                                                             SaveOptions* options,
                                                             SavePageCallback callback,
                                                             CookieJar* jar) {
    return qm::SavePictures(url, savePath, options, callback, jar);
}
