// What one save keeps between its fetches: connections left open by responses that ended
// where their framing said, for the next request to the same scheme, host and port, and the
// addresses its names resolved to. Shared by the workers that fetch ahead.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "resolve.h"
#include "transport.h"

namespace qm {

// The most connections a save opens to one host at once, a browser's number; as many stay
// open between fetches.
constexpr int kMostConnectionsPerHost = 6;

class ConnectionPool {
public:
    // The key of a connection: where it leads.
    static std::string Key(bool secure, const char* hostName, int port);

    // An open connection to `key`, or null when none is kept.
    std::unique_ptr<Transport> Take(const std::string& key);
    // Keeps `connection` for the next request to `key` (closes it when enough are kept).
    void Give(const std::string& key, std::unique_ptr<Transport> connection);

    ResolvedHosts& Hosts() { return hosts_; }

private:
    platform::NetSession session_;  // kept connections outlive the exchanges that made them
    std::mutex mutex_;
    std::unordered_map<std::string, std::vector<std::unique_ptr<Transport>>> idle_;
    ResolvedHosts hosts_;
};

}  // namespace qm
