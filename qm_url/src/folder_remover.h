// Deletes the folders handed to it on a thread of its own, one after the other, so that a
// call never waits for a large folder to go. When it ends, it finishes what is left.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_token.h"

namespace qm {

class FolderRemover {
public:
    FolderRemover() = default;
    ~FolderRemover();
    FolderRemover(const FolderRemover&) = delete;
    FolderRemover& operator=(const FolderRemover&) = delete;

    // Queues `path` and returns its ticket for Wait.
    uint64_t Take(std::string path);
    // Waits until the folder of `ticket` is gone, or `stop` is raised.
    void Wait(uint64_t ticket, const StopToken& stop);

private:
    void Run();
    // Joins a worker that has ended its run (or is about to, with nothing left to do).
    void Join(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> pending_;
    std::thread worker_;
    bool running_ = false;
    uint64_t taken_ = 0;
    uint64_t done_ = 0;
};

}  // namespace qm
