#include "fetch_ahead.h"

#include <utility>

#include "ascii.h"

namespace qm {
namespace {

// Where a URL leads: its scheme, host and port, in lower case ("http://a.example:8080").
std::string HostOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of("/?#", start);
    std::string host = url.substr(0, end);
    for (char& c : host) c = Lower(c);
    return host;
}

// What a fetched body holds while it waits, in memory or in its temporary file: both count,
// so that neither memory nor the disk fills with bodies fetched far ahead.
size_t HeldSize(const FetchedBody& fetched) { return static_cast<size_t>(fetched.body.size()); }

}  // namespace

FetchAhead::FetchAhead(Fetcher fetcher, int workers, int perHost, size_t heldLimit, StopToken stop)
    : fetcher_(std::move(fetcher)),
      stop_(stop),
      perHost_(perHost),
      heldLimit_(heldLimit) {
    for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

FetchAhead::~FetchAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    abandon_.store(true, std::memory_order_release);
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void FetchAhead::Plan(const std::vector<PlannedFetch>& next) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The planned items go to the front in visit order: an item found on the page just
        // visited is wanted before the links planned earlier.
        for (auto item = next.rbegin(); item != next.rend(); ++item) {
            auto known = byUrl_.find(item->url);
            if (known != byUrl_.end()) {
                jobs_.splice(jobs_.begin(), jobs_, known->second);
                continue;
            }
            if (!planned_.insert(item->url).second) continue;  // taken already
            NewJob(*item, false);
        }
    }
    work_.notify_all();
}

void FetchAhead::Take(const PlannedFetch& item, FetchedBody* out) {
    std::unique_lock<std::mutex> lock(mutex_);
    planned_.insert(item.url);
    auto known = byUrl_.find(item.url);
    if (workers_.empty()) {
        if (known != byUrl_.end()) {
            jobs_.erase(known->second);
            byUrl_.erase(known);
        }
        lock.unlock();
        fetcher_(item, stop_, out);
        return;
    }
    // The item is wanted now: the next worker free takes it before any other, held limit or
    // not, so that no more connections are open than there are workers.
    if (known == byUrl_.end()) {
        NewJob(item, true);
        known = byUrl_.find(item.url);
    } else if (known->second->state == State::kWaiting) {
        known->second->wanted = true;
        jobs_.splice(jobs_.begin(), jobs_, known->second);
    }
    JobList::iterator job = known->second;
    if (job->state == State::kWaiting) work_.notify_all();
    done_.wait(lock, [&] { return job->state == State::kDone; });
    const bool wasFull = held_ >= heldLimit_;
    held_ -= HeldSize(job->result);
    *out = std::move(job->result);
    byUrl_.erase(known);
    jobs_.erase(job);
    const bool room = wasFull && held_ < heldLimit_;
    lock.unlock();
    if (room) work_.notify_all();  // for the workers that wait on the held limit
}

void FetchAhead::Discard(const std::string& url) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        planned_.insert(url);
        auto known = byUrl_.find(url);
        if (known == byUrl_.end()) return;
        JobList::iterator job = known->second;
        byUrl_.erase(known);
        if (job->state == State::kRunning) {
            job->discarded = true;
            return;
        }
        if (job->state == State::kDone) held_ -= HeldSize(job->result);
        jobs_.erase(job);
    }
    work_.notify_all();
}

size_t FetchAhead::HeldBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

FetchAhead::JobList::iterator FetchAhead::NewJob(const PlannedFetch& item, bool wanted) {
    jobs_.push_front(Job{item, HostOf(item.url), State::kWaiting, false, wanted, {}});
    byUrl_.emplace(item.url, jobs_.begin());
    return jobs_.begin();
}

void FetchAhead::Work() {
    const StopToken stop = stop_.With(abandon_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        JobList::iterator job = jobs_.end();
        work_.wait(lock, [&] {
            if (ending_) return true;
            const bool room = held_ < heldLimit_;
            for (job = jobs_.begin(); job != jobs_.end(); ++job)
                if (job->state == State::kWaiting && (room || job->wanted) &&
                    runningPerHost_[job->host] < perHost_)
                    return true;
            return false;
        });
        if (ending_) return;
        job->state = State::kRunning;
        const std::string host = job->host;
        ++runningPerHost_[host];
        PlannedFetch item = job->item;
        lock.unlock();
        FetchedBody result;
        fetcher_(item, stop, &result);
        lock.lock();
        --runningPerHost_[host];
        work_.notify_all();  // the host has room for one more
        // The list entry stays while it runs: Take waits for it and only then erases it.
        if (job->discarded) {
            jobs_.erase(job);
        } else {
            job->result = std::move(result);
            job->state = State::kDone;
            held_ += HeldSize(job->result);
        }
        done_.notify_all();
    }
}

}  // namespace qm
