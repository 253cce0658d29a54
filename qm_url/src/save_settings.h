// The settings of a crawl as callers hold them: made, filled and freed through the exports,
// and handed to the crawling calls that take them.
#pragma once

#include <cstdint>
#include <string>

#include "qm_url.h"

// The caller's handle (declared in qm_url.h), with a mark that tells a handle of ours from any
// other pointer.
struct SaveSettings {
    static constexpr uint32_t kMark = 0x73657473;
    uint32_t mark = kMark;
    CookieJar* jar = nullptr;
    std::string webArchive;  // empty: none
    // Where a page save that asks again for the items an earlier save left counts those the
    // server said are unchanged; null: such items are kept unasked.
    int32_t* reused = nullptr;
    bool siteLayout = false;  // a page save keeps the site's folders and names
    // Where each page read is offered before it is read; null: nowhere.
    PageOfferCallback pageOffer = nullptr;
    void* pageOfferContext = nullptr;
};

namespace qm {

// The settings behind a caller's handle: *settings is null for a null handle. False when the
// handle is not one qm_NewSaveSettings made (or it was freed).
bool SettingsOfHandle(const ::SaveSettings* handle, const ::SaveSettings** settings);

}  // namespace qm
