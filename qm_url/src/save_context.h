// What one call of the library works with. Its export makes it as the call begins and hands
// it down to the code that uses it: the call's stop, where its failures go, the cookies its
// exchanges send and keep, the connections kept alive between its fetches, and the web
// archive its exchanges go into, when it writes one.
#pragma once

#include <string>

#include "connection_pool.h"
#include "cookie_jar.h"
#include "exchange.h"
#include "failure_report.h"
#include "given_items.h"
#include "platform/stop_token.h"
#include "qm_url.h"

namespace qm {

class WebArchive;

struct SaveContext {
    SaveContext(StopToken callStop, FailureSink failureSink, CookieJar& cookieJar)
        : stop(callStop),
          failures(failureSink),
          jar(cookieJar) {}
    SaveContext(const SaveContext&) = delete;
    SaveContext& operator=(const SaveContext&) = delete;

    // The limits of one fetch of this call.
    FetchLimits Limits() const { return DefaultFetchLimits(stop); }

    const StopToken stop;
    const FailureSink failures;
    CookieJar& jar;
    ConnectionPool pool;
    // Where the call records its exchanges, when it writes a web archive.
    WebArchive* archive = nullptr;
    // Where each page read is offered first (null: nowhere), and the bodies the caller gave
    // in answer, taken in place of fetches.
    PageOfferCallback pageOffer = nullptr;
    void* pageOfferContext = nullptr;
    GivenItems given;
};

}  // namespace qm
