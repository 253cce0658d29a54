// What tells a call's waits to end: the call's own stop flag, raised by qm_StopSave from any
// thread, and, for a worker that fetches ahead, the flag that ends it with its fetch when the
// result is no longer wanted. Every wait polls its token at least every kWaitSliceMs, so a
// call ends within 100 ms of the request.
#pragma once

#include <atomic>

namespace qm {

constexpr int kWaitSliceMs = 20;

class StopToken {
public:
    // A token no one raises.
    StopToken() = default;
    explicit StopToken(const std::atomic<bool>& flag) : first_(&flag) {}

    // This token, raised also by `flag`.
    StopToken With(const std::atomic<bool>& flag) const {
        StopToken both = *this;
        (both.first_ == nullptr ? both.first_ : both.second_) = &flag;
        return both;
    }

    bool requested() const { return Raised(first_) || Raised(second_); }

private:
    static bool Raised(const std::atomic<bool>* flag) {
        return flag != nullptr && flag->load(std::memory_order_acquire);
    }

    const std::atomic<bool>* first_ = nullptr;
    const std::atomic<bool>* second_ = nullptr;
};

// How long one wait may last, and what ends it sooner.
struct WaitLimit {
    int ms;
    StopToken stop;
};

}  // namespace qm
