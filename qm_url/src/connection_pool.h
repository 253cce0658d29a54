// What one save keeps between its fetches: connections left open by responses that ended
// where their framing said, for the next request to the same scheme, host and port, and the
// addresses its names resolved to; and how many connections each host has, kept or in use,
// which never passes kMostConnectionsPerHost. Shared by the workers that fetch ahead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "resolve.h"
#include "transport.h"

namespace qm {

// The most connections a save has open to one host at once, a browser's number, kept ones
// included.
constexpr int kMostConnectionsPerHost = 6;

class ConnectionPool {
public:
    // The key of a connection: where it leads.
    static std::string Key(bool secure, const char* hostName, int port);

    // A place among the connections to `key` for one exchange: *connection receives a kept
    // one, or stays null when the caller is to open one. Waits while `key` has
    // kMostConnectionsPerHost in use; TimedOut after the limit, Stopped when its token is raised.
    platform::NetStatus Acquire(const std::string& key, std::unique_ptr<Transport>* connection,
                                const WaitLimit& limit);
    // Ends the exchange Acquire let in: `connection` is kept for the next request to `key`,
    // or, when null, the place is free for a new one.
    void Release(const std::string& key, std::unique_ptr<Transport> connection);

    ResolvedHosts& Hosts() { return hosts_; }

private:
    platform::NetSession session_;  // kept connections outlive the exchanges that made them
    std::mutex mutex_;
    std::condition_variable released_;
    std::unordered_map<std::string, std::vector<std::unique_ptr<Transport>>> idle_;
    std::unordered_map<std::string, int> open_;  // per key: kept, and in use
    ResolvedHosts hosts_;
};

}  // namespace qm
