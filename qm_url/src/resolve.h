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
    bool Find(const char* name, platform::HostAddresses* addresses) const;
    void Remember(const char* name, const platform::HostAddresses& addresses);

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, platform::HostAddresses> found_;
};

// Puts the two families in turns, beginning with the family of the first address and keeping
// the order within each: a host whose addresses of one family are all dead is reached
// through the other after one head start, not after all of them (RFC 8305 section 4).
void InterleaveFamilies(platform::HostAddresses* addresses);

// Resolves `name` to its addresses, interleaved, from `known` when it holds them (and into
// it when it does not). Returns Stopped within one wait slice of the limit's stop and TimedOut
// after its time; a lookup still running then is abandoned.
platform::NetStatus ResolveHost(const char* name, platform::HostAddresses* addresses,
                                const WaitLimit& limit, ResolvedHosts* known = nullptr);

}  // namespace qm
