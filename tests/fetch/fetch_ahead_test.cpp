// Fetching ahead against a stand-in fetcher: which items are fetched, by whom, and how many
// bodies wait at once. No network and no timing: the fetcher is held at a gate.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "fetch_ahead.h"
#include "stop.h"

namespace qm {
namespace {

class StandIn {
public:
    FetchAhead::Fetcher Fetcher() {
        return [this](const PlannedFetch& item, FetchedBody* out) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++fetches_[item.url];
            threads_[item.url] = std::this_thread::get_id();
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_; });
            out->result = FetchStatus::kOk;
            out->body = "body of " + item.url;
        };
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // Waits, up to a generous deadline, until `count` distinct URLs have been fetched.
    bool WaitForFetched(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return fetches_.size() >= count; });
    }
    std::map<std::string, int> Fetches() {
        std::lock_guard<std::mutex> lock(mutex_);
        return fetches_;
    }
    std::thread::id ThreadOf(const std::string& url) {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_[url];
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::map<std::string, int> fetches_;
    std::map<std::string, std::thread::id> threads_;
};

PlannedFetch Item(const char* url) { return PlannedFetch{url, "http://h/"}; }

TEST(FetchAhead, WorkersFetchInVisitOrderOnceEachAndWaitForRoom) {
    StandIn server;
    const size_t bodySize = std::string("body of a").size();
    FetchAhead ahead(server.Fetcher(), 2, bodySize + 1);  // room for two bodies, not three
    ahead.Plan({Item("a"), Item("b"), Item("c"), Item("d")});
    ahead.Plan({Item("x"), Item("a"), Item("b")});  // found on the page just visited: x first
    ASSERT_TRUE(server.WaitForFetched(2));
    server.Open();
    FetchedBody body;
    ahead.Take(Item("x"), &body);
    EXPECT_TRUE(body.result.ok());
    EXPECT_EQ(body.body, "body of x");
    ahead.Take(Item("a"), &body);
    EXPECT_EQ(body.body, "body of a");
    ahead.Discard("b");
    ahead.Discard("c");
    ahead.Take(Item("d"), &body);
    EXPECT_EQ(body.body, "body of d");
    ahead.Plan({Item("a"), Item("d")});  // taken already: never fetched again
    std::map<std::string, int> fetches = server.Fetches();
    for (const auto& [url, count] : fetches) EXPECT_EQ(count, 1) << url;
    EXPECT_EQ(fetches.count("x"), 1u);
    EXPECT_EQ(ahead.HeldBytes(), 0u);
}

TEST(FetchAhead, AnItemNoWorkerStartedIsFetchedByTheVisitItself) {
    StandIn server;
    server.Open();
    FetchAhead ahead(server.Fetcher(), 0, 1 << 20);
    ahead.Plan({Item("a"), Item("b")});
    ahead.Discard("b");
    FetchedBody body;
    ahead.Take(Item("a"), &body);
    EXPECT_EQ(body.body, "body of a");
    EXPECT_EQ(server.ThreadOf("a"), std::this_thread::get_id());
    EXPECT_EQ(server.Fetches().count("b"), 0u);
}

TEST(FetchAhead, AFetchNoLongerWantedEndsWithTheCrawl) {
    std::atomic<bool> started{false}, sawStop{false};
    {
        FetchAhead ahead(
            [&](const PlannedFetch&, FetchedBody*) {
                started = true;
                auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!StopRequested() && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                sawStop = StopRequested();
            },
            1, 1 << 20);
        ahead.Plan({Item("slow")});
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!started && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        ASSERT_TRUE(started);
    }
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(StopRequested());  // the caller's own call goes on
}

}  // namespace
}  // namespace qm
