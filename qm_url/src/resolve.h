// Name resolution that can be given up: the system's resolver has no time limit of its own.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/socket.h"

namespace qm {

// The addresses one save has found: each name is asked of the resolver once. Shared by the
// workers that fetch ahead.
class ResolvedHosts {
public:
    bool Find(const char* name, platform::HostAddress* address) const;
    void Remember(const char* name, const platform::HostAddress& address);

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, platform::HostAddress> found_;
};

// Resolves `name` to an IPv4 address, from `known` when it holds it (and into it when it
// does not). Returns Stopped within one wait slice of a stop request and TimedOut after
// timeLimitMs; a lookup still running then is abandoned.
platform::NetStatus ResolveHost(const char* name, platform::HostAddress* address, int timeLimitMs,
                                ResolvedHosts* known = nullptr);

}  // namespace qm
