// The failure callback: where the reason of every item a call did not get goes.
#pragma once

#include <cstdint>

#include "fetch_status.h"
#include "qm_url.h"

namespace qm {

// Hands `result`'s reason for `url` to the caller's failure callback, if one is set.
void ReportFailure(int32_t recordIndex, const PageRecord* record, const char* url,
                   const FetchResult& result);

}  // namespace qm
