// A request a caller passed in: what it points at is probed, it is fetched within the call's
// context, and what failed is reported to the context's failures. qm_UrlToHtml and its kin
// are this with a buffer of the caller's.
#pragma once

#include <cstdint>

#include "body_sink.h"
#include "fetch_status.h"
#include "qm_url.h"

namespace qm {

struct SaveContext;

// FetchUrl (or FetchFollowing) for a request a caller passed in, within the call's
// `context`: what the request points at is probed first. A body cut at the buffer's end is
// returned, and reported to the context's failures with where it was cut.
FetchResult FetchCallersRequest(SaveContext& context, UrlRequest& request, char* output,
                                int32_t* outputLength, bool followRedirects);
// The same into `body`, wherever it keeps the body.
FetchResult FetchCallersRequest(SaveContext& context, UrlRequest& request, BodySink* body,
                                bool followRedirects);

}  // namespace qm
