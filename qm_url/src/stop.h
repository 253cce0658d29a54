// qm_StopSave and the calls it reaches. Every export makes a CallStop first thing; from then
// until the call returns, qm_StopSave raises it. A stop asked while no call runs reaches
// nothing later, and one asked once a call has begun is never dropped.
#pragma once

#include <atomic>

#include "platform/stop_token.h"

namespace qm {

class CallStop {
public:
    CallStop();   // qm_StopSave reaches this call from now on
    ~CallStop();  // and no longer
    CallStop(const CallStop&) = delete;
    CallStop& operator=(const CallStop&) = delete;

    StopToken token() const { return StopToken(raised_); }

private:
    std::atomic<bool> raised_{false};
};

// What qm_StopSave does: raises the stop of every call running now.
void StopRunningCalls();

}  // namespace qm
