// Following redirects: one FetchOnce per hop, whatever the scheme of each URL, each Location
// resolved against the URL that answered it.
#include <cstring>

#include "bounded_text.h"
#include "fetch.h"
#include "url.h"

namespace qm {
namespace {

// A Location as a reference: without its fragment, and with the bytes a request line
// cannot carry (blanks, controls, non-ASCII) percent-encoded, as browsers send them.
bool LocationReference(const char* location, size_t length, BoundedText& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length && location[i] != '#'; ++i) {
        unsigned char c = static_cast<unsigned char>(location[i]);
        if (c <= 0x20 || c >= 0x7f) {
            char escaped[3] = {'%', kHex[c >> 4], kHex[c & 15]};
            out.Append(escaped, 3);
        } else {
            out.Append(static_cast<char>(c));
        }
    }
    return out.ok() && out.length() > 0;
}

}  // namespace

FetchResult FetchFollowing(const UrlRequest& first, BodySink* body, char (&finalUrl)[URL_TEXT_SIZE],
                           ConnectionPool* pool, const FetchLimits& limits, CookieJar* jar,
                           WebArchive* archive, ResponseFacts* facts) {
    size_t length = first.urlLength == 0 ? strnlen(first.url, URL_TEXT_SIZE)
                                         : static_cast<size_t>(first.urlLength);
    if (first.urlLength < 0 || length >= URL_TEXT_SIZE) return FetchStatus::kBadUrl;
    std::memcpy(finalUrl, first.url, length);
    finalUrl[length] = '\0';

    for (int hop = 0;; ++hop) {
        UrlRequest request = first;
        request.url = finalUrl;
        request.urlLength = static_cast<int32_t>(std::strlen(finalUrl));
        Response response;
        FetchResult result = FetchOnce(request, RedirectPolicy::kFollow, limits, &response, body,
                                       pool, jar, archive, facts);
        if (!result.ok()) return result;
        const ResponseRules& rules = response.rules;
        if (!rules.IsRedirect()) return result;
        if (hop == kMostRedirects) return FetchStatus::kTooManyRedirects;

        char referenceArea[URL_TEXT_SIZE];
        BoundedText reference(referenceArea);
        char next[URL_TEXT_SIZE];
        if (!LocationReference(response.area.get() + rules.LocationStart(), rules.LocationLength(),
                               reference) ||
            !ResolveUrl(finalUrl, reference.c_str(), reference.length(), next))
            return FetchStatus::kBadRedirect;
        std::memcpy(finalUrl, next, sizeof next);
    }
}

}  // namespace qm
