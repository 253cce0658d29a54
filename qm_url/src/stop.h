// The stop request: qm_StopSave raises it from any thread; every wait of the running call
// polls it at least every kWaitSliceMs, so a call ends within 100 ms of the request.
#pragma once

namespace qm {

constexpr int kWaitSliceMs = 20;

// Raised by qm_StopSave.
void RequestStop();
// True once a stop was asked for the running call.
bool StopRequested();

// Every export opens one of these first: a request applies to the call that is running,
// so a new call starts with none pending.
class CallScope {
public:
    CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

}  // namespace qm
