// The failure callback: where the reason of every item a call did not get goes.
#pragma once

#include <cstdint>

#include "fetch_status.h"
#include "qm_url.h"

namespace qm {

// Where one call's failures go: the callback that was set when the call began, if any.
class FailureSink {
public:
    explicit FailureSink(FailureCallback callback = nullptr) : callback_(callback) {}
    // Hands `result`'s reason for `url` to the callback.
    void Report(int32_t recordIndex, const PageRecord* record, const char* url,
                const FetchResult& result) const;

private:
    FailureCallback callback_;
};

// The callback qm_SetFailureCallback set last: the exports read it as a call begins.
FailureCallback CurrentFailureCallback();

}  // namespace qm
