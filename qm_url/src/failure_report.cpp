#include "failure_report.h"

#include <atomic>

namespace qm {
namespace {

std::atomic<FailureCallback> g_failureCallback{nullptr};

constexpr size_t kReasonSize = 128;

}  // namespace

void FailureSink::Report(int32_t recordIndex, const PageRecord* record, const char* url,
                         const FetchResult& result) const {
    if (callback_ == nullptr) return;
    char reason[kReasonSize];
    DescribeFetchResult(result, reason, sizeof reason);
    callback_(recordIndex, record, url != nullptr ? url : "", reason);
}

FailureCallback CurrentFailureCallback() { return g_failureCallback.load(); }

}  // namespace qm

extern "C" QM_API void QM_CALL qm_SetFailureCallback(FailureCallback callback) {
    qm::g_failureCallback.store(callback);
}
