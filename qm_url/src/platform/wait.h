// The one wait loop of the library: every wait on the network or the resolver runs in slices
// of kWaitSliceMs, so that it notices its call's stop in time, until its time limit passes.
#pragma once

#include <algorithm>
#include <chrono>

#include "platform/socket.h"
#include "platform/stop_token.h"

namespace qm::platform {

// Calls `slice(ms)` until it returns anything but TimedOut, which means "nothing happened in
// that slice". Gives Stopped once the limit's token is raised and TimedOut once `limit.ms`
// have passed.
template <typename Slice>
NetStatus WaitInSlices(const WaitLimit& limit, Slice slice) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit.ms);
    for (;;) {
        if (limit.stop.requested()) return NetStatus::Stopped;
        long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return NetStatus::TimedOut;
        NetStatus status = slice(static_cast<int>(std::min<long long>(left, kWaitSliceMs)));
        if (status != NetStatus::TimedOut) return status;
    }
}

}  // namespace qm::platform
