#include "page_offer.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "arguments.h"
#include "ascii.h"
#include "platform/probe.h"

// The caller's handle (declared in qm_url.h): one page, for the length of one callback.
struct PageOffer {
    static constexpr uint32_t kMark = 0x7265666f;
    uint32_t mark = kMark;
    qm::FetchedBody* page;
    qm::SaveContext* context;
};

namespace qm {

void OfferPage(SaveContext& context, FetchedBody* page) {
    std::string text;
    if (context.pageOffer == nullptr || !page->body.ReadInto(&text)) return;
    ::PageOffer offer;
    offer.page = page;
    offer.context = &context;
    context.pageOffer(context.pageOfferContext, &offer, page->finalUrl.c_str(),
                      page->contentType.c_str(), text.data(), static_cast<int64_t>(text.size()));
    offer.mark = 0;
}

}  // namespace qm

namespace {

::PageOffer* Valid(::PageOffer* offer) {
    return offer != nullptr && qm::platform::ProbeWritable(offer, sizeof *offer) &&
                   offer->mark == ::PageOffer::kMark
               ? offer
               : nullptr;
}

// A body the caller passed: length bytes that can be read.
bool Readable(const char* data, int64_t length) {
    return length >= 0 && static_cast<uint64_t>(length) <= SIZE_MAX &&
           (length == 0 ||
            (data != nullptr && qm::platform::ProbeReadable(data, static_cast<size_t>(length))));
}

// An absolute http or https address shorter than URL_TEXT_SIZE.
bool WebAddress(const char* url) {
    size_t length = 0;
    return url != nullptr && qm::MeasureText(url, URL_TEXT_SIZE, &length) &&
           length < URL_TEXT_SIZE &&
           (qm::StartsWithNoCase(url, length, "http://") ||
            qm::StartsWithNoCase(url, length, "https://"));
}

}  // namespace

extern "C" QM_API int32_t QM_CALL qm_ReplaceOfferedPage(PageOffer* offer, const char* html,
                                                        int64_t length, const char* pageUrl) {
    if (Valid(offer) == nullptr || !Readable(html, length) ||
        (pageUrl != nullptr && !WebAddress(pageUrl)))
        return 0;
    try {
        qm::BodySink text(static_cast<size_t>(length) + 1);
        if (!text.Put(html, static_cast<size_t>(length))) return 0;
        offer->page->body = std::move(text);
        if (pageUrl != nullptr) offer->page->finalUrl = pageUrl;
    } catch (...) {
        return 0;
    }
    return 1;
}

extern "C" QM_API int32_t QM_CALL qm_GiveOfferedItem(PageOffer* offer, const char* url,
                                                     const char* body, int64_t length) {
    if (Valid(offer) == nullptr || !WebAddress(url) || !Readable(body, length) ||
        offer->context->archive != nullptr)
        return 0;
    try {
        return offer->context->given.Give(url, std::string(body, static_cast<size_t>(length))) ? 1
                                                                                               : 0;
    } catch (...) {
        return 0;
    }
}
