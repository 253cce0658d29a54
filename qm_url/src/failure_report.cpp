#include "failure_report.h"

namespace qm {
namespace {

FailureCallback g_failureCallback = nullptr;

constexpr size_t kReasonSize = 128;

}  // namespace

void ReportFailure(int32_t recordIndex, const PageRecord* record, const char* url,
                   const FetchResult& result) {
    if (g_failureCallback == nullptr) return;
    char reason[kReasonSize];
    DescribeFetchResult(result, reason, sizeof reason);
    g_failureCallback(recordIndex, record, url != nullptr ? url : "", reason);
}

}  // namespace qm

extern "C" QM_API void QM_CALL qm_SetFailureCallback(FailureCallback callback) {
    qm::g_failureCallback = callback;
}
