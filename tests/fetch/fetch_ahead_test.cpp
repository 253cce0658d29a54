// Fetching ahead against a stand-in fetcher: which items are fetched, by whom, and how many
// bodies wait at once. No network and no timing: the fetcher is held at a gate.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <set>
#include <mutex>
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
            fetched_.insert(item.url);
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
    bool WaitForFetches(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return fetched_.size() >= count; });
    }
    std::multiset<std::string> Fetched() {
        std::lock_guard<std::mutex> lock(mutex_);
        return fetched_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::multiset<std::string> fetched_;
};

PlannedFetch Item(const char* url) { return PlannedFetch{url, "http://h/"}; }

TEST(FetchAhead, WorkersFetchInVisitOrderOnceEachAndWaitForRoom) {
    StandIn server;
    FetchAhead ahead(server.Fetcher(), 2, std::string("body of a").size() + 1);  // room for two
    ahead.Plan({Item("a"), Item("b"), Item("c"), Item("d")});
    ahead.Plan({Item("x"), Item("a"), Item("b")});  // found on the page just visited: x first
    ASSERT_TRUE(server.WaitForFetches(2));
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
    const auto fetched = server.Fetched();
    for (const std::string& url : fetched) EXPECT_EQ(fetched.count(url), 1u) << url;
    EXPECT_EQ(fetched.count("x"), 1u);
    EXPECT_EQ(ahead.HeldBytes(), 0u);
}

TEST(FetchAhead, AFetchNoLongerWantedEndsWithTheCrawl) {
    std::atomic<bool> started{false}, sawStop{false};
    auto waitFor = [](const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    };
    {
        FetchAhead ahead(
            [&](const PlannedFetch&, FetchedBody*) {
                started = true;
                waitFor(StopRequested);
                sawStop = StopRequested();
            },
            1, 1 << 20);
        ahead.Plan({Item("slow")});
        waitFor([&] { return started.load(); });
        ASSERT_TRUE(started);
    }
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(StopRequested());  // the caller's own call goes on
}

}  // namespace
}  // namespace qm
