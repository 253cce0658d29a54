// The renderer's clock: milliseconds that only go forward, and deadlines made of them.
#pragma once

#include <chrono>
#include <cstdint>

namespace pagesnap {

using Tick = uint64_t;  // milliseconds of the steady clock

inline Tick Now() {
    return static_cast<Tick>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}
// Milliseconds left until `deadline`, never negative.
inline uint32_t Remaining(Tick deadline) {
    const Tick now = Now();
    return now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
}

}  // namespace pagesnap
