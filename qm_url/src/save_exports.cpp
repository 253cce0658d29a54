// The crawling exports: qm_SavePages and qm_SavePictures, each also with the caller's cookie
// jar or settings. They share one way in and differ only in the crawl's policy.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "arguments.h"
#include "cookie_handle.h"
#include "crawl.h"
#include "crawl_state.h"
#include "export_call.h"
#include "folder_remover.h"
#include "page_policy.h"
#include "pictures.h"
#include "save_settings.h"
#include "web_archive.h"

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

// The web archive of a save, when its settings ask for one: begun before the crawl and put
// in place after it.
class SaveArchive {
public:
    // False, with the failure told, when the archive asked for cannot be begun.
    bool Begin(const ::SaveSettings* settings, SaveContext& context) {
        if (settings == nullptr || settings->webArchive.empty()) return true;
        archive_.emplace();
        if (!archive_->Open(settings->webArchive)) return Failed(context);
        context.archive = &*archive_;
        return true;
    }
    // False, with the failure told, when the archive could not be written whole.
    bool End(SaveContext& context) {
        if (!archive_) return true;
        context.archive = nullptr;
        return archive_->Finish() || Failed(context);
    }

private:
    bool Failed(const SaveContext& context) {
        context.failures.Report(NO_RECORD, nullptr, archive_->path().c_str(),
                                FetchStatus::kWriteFailed);
        archive_.reset();
        return false;
    }

    std::optional<WebArchive> archive_;
};

int32_t Save(const CrawlPolicy& policy, const char* url, const char* savePath, SaveOptions* options,
             SavePageCallback callback, ::CookieJar* handle, const ::SaveSettings* settingsHandle,
             bool optionsWritten) {
    ExportCall call;
    size_t urlLength, pathLength;
    CookieJar* given = nullptr;
    const ::SaveSettings* settings = nullptr;
    if (!CheckCrawlArguments(url, savePath, options, optionsWritten, &urlLength, &pathLength) ||
        !SettingsOfHandle(settingsHandle, &settings) ||
        !JarOfHandle(settings != nullptr ? settings->jar : handle, &given))
        return 0;
    // A picture save runs with fixed options, and tells the caller so.
    if (optionsWritten) *options = SaveOptions{1, 1, 0, 0};
    try {
        SaveContext& context = call.Begin(given);
        CrawlState& state = ExportState();
        SaveArchive archive;
        if (settings != nullptr) {
            context.pageOffer = settings->pageOffer;
            context.pageOfferContext = settings->pageOfferContext;
        }
        if (!StartCrawl(state, url, urlLength, savePath, pathLength, policy) ||
            !archive.Begin(settings, context))
            return 0;
        const CrawlOutcome outcome = VisitQueue(context, state, *options, callback);
        if (settings != nullptr && settings->reused != nullptr)
            *settings->reused = state.reusedItems;
        return archive.End(context) && outcome == CrawlOutcome::kDone ? 1 : 0;
    } catch (...) {
        return 0;  // nothing may cross the C boundary
    }
}

int32_t SavePages(const char* url, const char* savePath, SaveOptions* options,
                  SavePageCallback callback, ::CookieJar* jar, const ::SaveSettings* settings) {
    // The settings choose the layout, and whether what an earlier save left is asked for
    // again (when they count the items reused).
    const ::SaveSettings* given = nullptr;
    const bool known = SettingsOfHandle(settings, &given) && given != nullptr;
    const PagePolicy pages(known && given->siteLayout ? NameLayout::kSiteTree : NameLayout::kFlat,
                           known && given->reused != nullptr);
    return Save(pages, url, savePath, options, callback, jar, settings, false);
}

int32_t SavePictures(const char* url, const char* savePath, SaveOptions* options,
                     SavePageCallback callback, ::CookieJar* jar, const ::SaveSettings* settings) {
    const PicturePolicy pictures(TheFolderRemover());
    return Save(pictures, url, savePath, options, callback, jar, settings, true);
}

}  // namespace
}  // namespace qm

extern "C" QM_API int32_t QM_CALL qm_SavePages(const char* url, const char* savePath,
                                               SaveOptions* options, SavePageCallback callback) {
    return qm::SavePages(url, savePath, options, callback, nullptr, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_SavePagesWithCookies(const char* url, const char* savePath,
                                                          SaveOptions* options,
                                                          SavePageCallback callback,
                                                          CookieJar* jar) {
    return qm::SavePages(url, savePath, options, callback, jar, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_SavePictures(const char* url, const char* savePath,
                                                  SaveOptions* options, SavePageCallback callback) {
    return qm::SavePictures(url, savePath, options, callback, nullptr, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_SavePicturesWithCookies(const char* url, const char* savePath,
                                                             SaveOptions* options,
                                                             SavePageCallback callback,
                                                             CookieJar* jar) {
    return qm::SavePictures(url, savePath, options, callback, jar, nullptr);
}

extern "C" QM_API int32_t QM_CALL qm_SavePagesWithSettings(const char* url, const char* savePath,
                                                           SaveOptions* options,
                                                           SavePageCallback callback,
                                                           const SaveSettings* settings) {
    return qm::SavePages(url, savePath, options, callback, nullptr, settings);
}

extern "C" QM_API int32_t QM_CALL qm_SavePicturesWithSettings(const char* url, const char* savePath,
                                                              SaveOptions* options,
                                                              SavePageCallback callback,
                                                              const SaveSettings* settings) {
    return qm::SavePictures(url, savePath, options, callback, nullptr, settings);
}
