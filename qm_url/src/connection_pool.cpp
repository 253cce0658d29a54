#include "connection_pool.h"

#include <chrono>
#include <utility>

#include "platform/wait.h"

namespace qm {

std::string ConnectionPool::Key(bool secure, const char* hostName, int port) {
    std::string key = secure ? "https://" : "http://";
    key += hostName;
    key += ':';
    key += std::to_string(port);
    return key;
}

platform::NetStatus ConnectionPool::Acquire(const std::string& key,
                                            std::unique_ptr<Transport>* connection,
                                            const WaitLimit& limit) {
    using platform::NetStatus;
    std::unique_lock<std::mutex> lock(mutex_);
    return platform::WaitInSlices(limit, [&](int sliceMs) {
        std::vector<std::unique_ptr<Transport>>& kept = idle_[key];
        if (!kept.empty()) {
            *connection = std::move(kept.back());
            kept.pop_back();
            return NetStatus::Ok;
        }
        int& open = open_[key];
        if (open < kMostConnectionsPerHost) {
            ++open;
            return NetStatus::Ok;
        }
        released_.wait_for(lock, std::chrono::milliseconds(sliceMs));
        return NetStatus::TimedOut;
    });
}

void ConnectionPool::Release(const std::string& key, std::unique_ptr<Transport> connection) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connection != nullptr) idle_[key].push_back(std::move(connection));
        else --open_[key];
    }
    released_.notify_all();
}

}  // namespace qm
