// The names of temporary files, made beside the file they become: "~qm" and four hex digits.
// Each thread and each moment gives other names, so that writers at work side by side rarely
// meet; the caller creates the file only where none is, and takes the next attempt's name
// when one is.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace qm::platform {

inline void TempName(unsigned attempt, char (&name)[16]) {
    const size_t seed =
        std::hash<std::thread::id>{}(std::this_thread::get_id()) ^
        static_cast<size_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned n = static_cast<unsigned>(seed) + attempt * 40503u;
    std::snprintf(name, sizeof name, "~qm%04x", (n ^ (n >> 16)) & 0xffffu);
}

}  // namespace qm::platform
