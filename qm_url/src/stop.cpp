#include "stop.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "qm_url.h"

namespace qm {
namespace {

// The calls running now, each for as long as its CallStop lives.
struct RunningCalls {
    std::mutex mutex;
    std::vector<std::atomic<bool>*> flags;
};

RunningCalls& Running() {
    static RunningCalls running;
    return running;
}

}  // namespace

CallStop::CallStop() {
    RunningCalls& running = Running();
    std::lock_guard<std::mutex> lock(running.mutex);
    running.flags.push_back(&raised_);
}

CallStop::~CallStop() {
    RunningCalls& running = Running();
    std::lock_guard<std::mutex> lock(running.mutex);
    running.flags.erase(std::find(running.flags.begin(), running.flags.end(), &raised_));
}

void StopRunningCalls() {
    RunningCalls& running = Running();
    std::lock_guard<std::mutex> lock(running.mutex);
    for (std::atomic<bool>* flag : running.flags) flag->store(true, std::memory_order_release);
}

}  // namespace qm

extern "C" QM_API void QM_CALL qm_StopSave(void) { qm::StopRunningCalls(); }
