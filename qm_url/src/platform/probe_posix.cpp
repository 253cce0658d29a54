// Linux has no fault-free probe call, so the probes read the process's own map of its
// address space: a range is good when mappings with the needed permission cover it whole.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/probe.h"

namespace qm::platform {
namespace {

bool RangeMapped(const void* address, size_t size, char permission) {
    if (address == nullptr) return false;
    if (size == 0) return true;
    uintptr_t begin = reinterpret_cast<uintptr_t>(address);
    if (begin + size < begin) return false;  // wraps around the address space
    uintptr_t end = begin + size;

    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (maps == nullptr) return false;
    // Lines are sorted by address: walk them while they still cover the range contiguously.
    uintptr_t covered = begin;
    char line[512];
    while (covered < end && std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned long lo = 0, hi = 0;
        char perms[5] = {};
        if (std::sscanf(line, "%lx-%lx %4s", &lo, &hi, perms) != 3) continue;
        if (hi <= covered) continue;
        if (lo > covered) break;  // a hole
        bool allowed = permission == 'r' ? perms[0] == 'r' : perms[1] == 'w';
        if (!allowed) break;
        covered = hi;
    }
    std::fclose(maps);
    return covered >= end;
}

}  // namespace

bool ProbeReadable(const void* address, size_t size) { return RangeMapped(address, size, 'r'); }

bool ProbeWritable(void* address, size_t size) { return RangeMapped(address, size, 'w'); }

}  // namespace qm::platform
