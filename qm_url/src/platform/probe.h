// Pointer probes: may a range be read or written without a fault? A null pointer is bad.
// The exports check their arguments with these before touching anything.
#pragma once

#include <cstddef>

namespace qm::platform {

bool ProbeReadable(const void* address, size_t size);
bool ProbeWritable(void* address, size_t size);

}  // namespace qm::platform
