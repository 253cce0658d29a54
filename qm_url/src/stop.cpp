#include "stop.h"

#include <atomic>

#include "qm_url.h"

namespace qm {
namespace {
std::atomic<bool> g_stopRequested{false};
}

void RequestStop() { g_stopRequested.store(true, std::memory_order_release); }

bool StopRequested() { return g_stopRequested.load(std::memory_order_acquire); }

CallScope::CallScope() { g_stopRequested.store(false, std::memory_order_release); }

}  // namespace qm

extern "C" QM_API void QM_CALL qm_StopSave(void) { qm::RequestStop(); }
