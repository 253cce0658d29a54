#include "stop.h"

#include <atomic>

#include "qm_url.h"

namespace qm {
namespace {
std::atomic<bool> g_stopRequested{false};
thread_local const std::atomic<bool>* t_threadStop = nullptr;
}  // namespace

void RequestStop() { g_stopRequested.store(true, std::memory_order_release); }

bool StopRequested() {
    if (g_stopRequested.load(std::memory_order_acquire)) return true;
    return t_threadStop != nullptr && t_threadStop->load(std::memory_order_acquire);
}

ThreadStopScope::ThreadStopScope(const std::atomic<bool>& flag) : previous_(t_threadStop) {
    t_threadStop = &flag;
}

ThreadStopScope::~ThreadStopScope() { t_threadStop = previous_; }

CallScope::CallScope() { g_stopRequested.store(false, std::memory_order_release); }

}  // namespace qm

extern "C" QM_API void QM_CALL qm_StopSave(void) { qm::RequestStop(); }
