#include "connection_pool.h"

#include <utility>

namespace qm {

std::string ConnectionPool::Key(bool secure, const char* hostName, int port) {
    std::string key = secure ? "https://" : "http://";
    key += hostName;
    key += ':';
    key += std::to_string(port);
    return key;
}

std::unique_ptr<Transport> ConnectionPool::Take(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = idle_.find(key);
    if (found == idle_.end() || found->second.empty()) return nullptr;
    std::unique_ptr<Transport> connection = std::move(found->second.back());
    found->second.pop_back();
    return connection;
}

void ConnectionPool::Give(const std::string& key, std::unique_ptr<Transport> connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::unique_ptr<Transport>>& kept = idle_[key];
    if (kept.size() < static_cast<size_t>(kMostConnectionsPerHost))
        kept.push_back(std::move(connection));
}

}  // namespace qm
