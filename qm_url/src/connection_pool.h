// Connections kept alive between the items of a save: a response that ended where its framing
// said leaves its connection here, and the next request to the same scheme, host and port
// takes it instead of opening a new one. Shared by the workers that fetch ahead.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qm {

// The key of a connection: where it leads, e.g. "https://example.org:443".
std::string ConnectionKey(bool secure, const char* hostName, int port);

template <typename Connection>
class IdlePool {
public:
    explicit IdlePool(size_t mostPerKey) : mostPerKey_(mostPerKey) {}

    // An idle connection to `key`, or null when none is kept.
    std::unique_ptr<Connection> Take(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = idle_.find(key);
        if (found == idle_.end() || found->second.empty()) return nullptr;
        std::unique_ptr<Connection> connection = std::move(found->second.back());
        found->second.pop_back();
        return connection;
    }

    // Keeps `connection` for the next request to `key`; beyond the most kept per key it is
    // closed instead.
    void Give(const std::string& key, std::unique_ptr<Connection> connection) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::unique_ptr<Connection>>& kept = idle_[key];
        if (kept.size() < mostPerKey_) kept.push_back(std::move(connection));
    }

    // Closes every kept connection.
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        idle_.clear();
    }

    size_t Size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const auto& entry : idle_) n += entry.second.size();
        return n;
    }

private:
    const size_t mostPerKey_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::vector<std::unique_ptr<Connection>>> idle_;
};

}  // namespace qm
