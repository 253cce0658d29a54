// Fetching ahead: while the crawl visits its queue in order on the caller's thread, a few
// workers fetch the items it will visit next, so that the waits of many items overlap. Only
// the network work moves ahead; what is reported, scanned and written stays with the visit.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "body_sink.h"
#include "fetch_status.h"
#include "platform/stop_token.h"

namespace qm {

// One fetch's outcome as the crawl needs it.
struct FetchedBody {
    FetchResult result = FetchStatus::kStopped;
    BodySink body;         // the decoded body when it succeeded, in memory or in its file
    std::string finalUrl;  // where the body came from, after redirects
    int64_t lastModified = -1;  // its Last-Modified date, in seconds since 1970; -1: none
    std::string contentType;    // its Content-Type as it came; empty: none
};

// An item the crawl is about to visit.
struct PlannedFetch {
    std::string url;
    std::string referer;
    std::string localPath;  // the file it is to become: a large body is kept beside it
    std::string ifModifiedSince;  // when not empty, the body is asked for only if it changed
};

class FetchAhead {
public:
    // Fetches one item; runs on a worker or on the caller's thread, so it must be safe to run
    // several at once. Its waits end once `stop` is raised.
    using Fetcher =
        std::function<void(const PlannedFetch& item, const StopToken& stop, FetchedBody* out)>;

    // `workers` fetches at most at once, and at most `perHost` of them to one host (scheme,
    // host and port of the item's URL); bodies fetched and not yet taken are held, in memory
    // or in their files, while they add up to less than `heldLimit` bytes (a worker waits
    // for room before it starts). Every fetch ends on the call's `stop`; those of the workers
    // also end once their results are no longer wanted.
    FetchAhead(Fetcher fetcher, int workers, int perHost, size_t heldLimit, StopToken stop);
    // Ends the fetches still running (their results are not wanted) and joins the workers.
    ~FetchAhead();
    FetchAhead(const FetchAhead&) = delete;
    FetchAhead& operator=(const FetchAhead&) = delete;

    // The items to be visited next, in visit order. Items not known yet are queued behind
    // those still waiting, in this order; a URL asked for before is not asked for again.
    void Plan(const std::vector<PlannedFetch>& next);

    // The item's result: the one fetched ahead, or, when no worker has started it yet, the
    // one the next free worker fetches before anything else (the held limit does not hold it
    // back). Without workers it is fetched here. Each URL is taken once.
    void Take(const PlannedFetch& item, FetchedBody* out);

    // The item will not be visited (a stop, a budget, an option that skips it): its body, if
    // fetched, is thrown away unwritten, and it no longer counts against the held limit.
    void Discard(const std::string& url);

    // Bytes of bodies fetched ahead and not taken yet.
    size_t HeldBytes() const;

private:
    enum class State { kWaiting, kRunning, kDone };
    struct Job {
        PlannedFetch item;
        std::string host;
        State state = State::kWaiting;
        bool discarded = false;  // to be thrown away once its fetch ends
        bool wanted = false;     // the visit waits for it
        FetchedBody result;
    };
    using JobList = std::list<Job>;

    void Work();
    JobList::iterator NewJob(const PlannedFetch& item, bool wanted);

    Fetcher fetcher_;
    const StopToken stop_;
    const int perHost_;
    const size_t heldLimit_;
    mutable std::mutex mutex_;
    std::condition_variable work_;  // a job to start, or room to start one, or the end
    std::condition_variable done_;  // a fetch has ended (the visit waits for one)
    JobList jobs_;                  // in visit order as planned
    std::unordered_map<std::string, JobList::iterator> byUrl_;
    std::unordered_set<std::string> planned_;  // every URL ever planned or taken
    std::unordered_map<std::string, int> runningPerHost_;
    size_t held_ = 0;
    bool ending_ = false;
    std::atomic<bool> abandon_{false};  // ends the fetches still running at the end
    std::vector<std::thread> workers_;
};

}  // namespace qm
