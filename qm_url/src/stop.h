// The stop request: qm_StopSave raises it from any thread; every wait of the running call
// polls it at least every kWaitSliceMs, so a call ends within 100 ms of the request.
#pragma once

#include <atomic>

namespace qm {

constexpr int kWaitSliceMs = 20;

// Raised by qm_StopSave.
void RequestStop();
// True once a stop was asked for the running call, or for the work of this thread alone
// (see ThreadStopScope).
bool StopRequested();

// While one lives, the waits of this thread also end once `flag` is raised: a worker that
// fetches ahead is ended with its fetch when its result is no longer wanted.
class ThreadStopScope {
public:
    explicit ThreadStopScope(const std::atomic<bool>& flag);
    ~ThreadStopScope();
    ThreadStopScope(const ThreadStopScope&) = delete;
    ThreadStopScope& operator=(const ThreadStopScope&) = delete;

private:
    const std::atomic<bool>* previous_;
};

// Every export opens one of these first: a request applies to the call that is running,
// so a new call starts with none pending.
class CallScope {
public:
    CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

}  // namespace qm
