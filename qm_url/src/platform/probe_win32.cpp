#include <windows.h>

#include "platform/probe.h"

namespace qm::platform {

bool ProbeReadable(const void* address, size_t size) {
    return address != nullptr && !IsBadReadPtr(address, size);
}

bool ProbeWritable(void* address, size_t size) {
    return address != nullptr && !IsBadWritePtr(address, size);
}

}  // namespace qm::platform
