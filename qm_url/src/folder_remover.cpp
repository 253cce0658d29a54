#include "folder_remover.h"

#include <chrono>

#include "platform/files.h"

namespace qm {

FolderRemover::~FolderRemover() {
    std::unique_lock<std::mutex> lock(mutex_);
    Join(lock);
    // A thread ended by the system at process exit may have left its folder behind.
    for (const std::string& path : pending_) platform::DeleteTree(path.c_str());
}

uint64_t FolderRemover::Take(std::string path) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.push_back(std::move(path));
    if (!running_) {
        Join(lock);
        running_ = true;
        worker_ = std::thread([this] { Run(); });
    }
    return taken_ += 1;
}

void FolderRemover::Wait(uint64_t ticket, const StopToken& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (done_ < ticket && !stop.requested())
        changed_.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs));
}

void FolderRemover::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!pending_.empty()) {
        std::string path = pending_.front();
        lock.unlock();
        platform::DeleteTree(path.c_str());
        lock.lock();
        pending_.erase(pending_.begin());
        ++done_;
        changed_.notify_all();
    }
    running_ = false;
}

void FolderRemover::Join(std::unique_lock<std::mutex>& lock) {
    if (!worker_.joinable()) return;
    std::thread ended = std::move(worker_);
    lock.unlock();
    ended.join();
    lock.lock();
}

}  // namespace qm
