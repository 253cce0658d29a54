// Name resolution that can be given up: the system's resolver has no time limit of its own.
#pragma once

#include "platform/socket.h"

namespace qm {

// Resolves `name` to an IPv4 address. Returns Stopped within one wait slice of a stop
// request and TimedOut after timeLimitMs; a lookup still running then is abandoned.
platform::NetStatus ResolveHost(const char* name, platform::HostAddress* address,
                                int timeLimitMs);

}  // namespace qm
