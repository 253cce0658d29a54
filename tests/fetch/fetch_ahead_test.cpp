// Fetching ahead against a stand-in fetcher: which items are fetched, by whom, and how many
// bodies wait at once. No network and no timing: the fetcher is held at a gate.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <set>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fetch_ahead.h"

namespace qm {
namespace {

class StandIn {
public:
    FetchAhead::Fetcher Fetcher() {
        return [this](const PlannedFetch& item, const StopToken&, FetchedBody* out) {
            std::unique_lock<std::mutex> lock(mutex_);
            fetched_.insert(item.url);
            started_.push_back(item.url);
            std::string host = item.url.substr(0, item.url.find('/', 8));
            std::transform(host.begin(), host.end(), host.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            mostAtOnce_[host] = std::max(mostAtOnce_[host], ++running_[host]);
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_; });
            --running_[host];
            out->result = FetchStatus::kOk;
            const std::string body = "body of " + item.url;
            out->body = BodySink(body.size());
            out->body.Put(body.data(), body.size());
        };
    }
    // The most fetches that ran at once to each host ("http://a:1").
    std::map<std::string, int> MostAtOnce() {
        std::lock_guard<std::mutex> lock(mutex_);
        return mostAtOnce_;
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
    // The items in the order their fetches began.
    std::vector<std::string> Started() {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::multiset<std::string> fetched_;
    std::vector<std::string> started_;
    std::map<std::string, int> running_, mostAtOnce_;
};

PlannedFetch Item(const char* url) { return PlannedFetch{url, "http://h/", "", ""}; }

// A worker takes the items in the order the crawl will visit them.
TEST(FetchAhead, AWorkerFetchesInVisitOrder) {
    StandIn server;
    server.Open();
    FetchAhead ahead(server.Fetcher(), 1, 1, 1 << 20, StopToken());
    ahead.Plan({Item("x"), Item("a"), Item("b"), Item("c"), Item("d")});
    FetchedBody body;
    for (const char* url : {"x", "a", "b", "c", "d"}) ahead.Take(Item(url), &body);
    EXPECT_EQ(server.Started(), (std::vector<std::string>{"x", "a", "b", "c", "d"}));
}

TEST(FetchAhead, WorkersFetchOnceEachAndWaitForRoom) {
    StandIn server;
    // Room for two.
    FetchAhead ahead(server.Fetcher(), 2, 2, std::string("body of a").size() + 1, StopToken());
    ahead.Plan({Item("a"), Item("b"), Item("c"), Item("d")});
    ahead.Plan({Item("x"), Item("a"), Item("b")});  // found on the page just visited: x first
    ASSERT_TRUE(server.WaitForFetches(2));
    server.Open();
    FetchedBody body;
    ahead.Take(Item("x"), &body);
    EXPECT_TRUE(body.result.ok());
    EXPECT_EQ(body.body.memory(), "body of x");
    ahead.Take(Item("a"), &body);
    EXPECT_EQ(body.body.memory(), "body of a");
    ahead.Discard("b");
    ahead.Discard("c");
    ahead.Take(Item("d"), &body);
    EXPECT_EQ(body.body.memory(), "body of d");
    ahead.Plan({Item("a"), Item("d")});  // taken already: never fetched again
    const auto fetched = server.Fetched();
    for (const std::string& url : fetched) EXPECT_EQ(fetched.count(url), 1u) << url;
    EXPECT_EQ(fetched.count("x"), 1u);
    EXPECT_EQ(ahead.HeldBytes(), 0u);
}

// The workers are one number, the fetches to one host another: items on three hosts run on
// every worker, never more than the host's share to one host, whatever order they come in.
TEST(FetchAhead, EachHostHasItsShareOfTheWorkers) {
    StandIn server;
    FetchAhead ahead(server.Fetcher(), 9, 3, 1 << 20, StopToken());
    std::vector<PlannedFetch> items;
    for (const char* host : {"http://a:1", "HTTP://A:1", "http://b:1", "http://c:1"})
        for (int i = 0; i < 4; ++i)
            items.push_back(PlannedFetch{std::string(host) + "/" + std::to_string(i), "", "", ""});
    ahead.Plan(items);
    ASSERT_TRUE(server.WaitForFetches(9));
    EXPECT_EQ(server.Fetched().size(), 9u);
    server.Open();
    for (const PlannedFetch& item : items) {
        FetchedBody body;
        ahead.Take(item, &body);
        EXPECT_EQ(body.body.memory(), "body of " + item.url);
    }
    const std::map<std::string, int> most = server.MostAtOnce();
    EXPECT_EQ(most, (std::map<std::string, int>{{"http://a:1", 3}, {"http://b:1", 3}, {"http://c:1", 3}}));
}

TEST(FetchAhead, AFetchNoLongerWantedEndsWithTheCrawl) {
    std::atomic<bool> started{false}, sawStop{false};
    const std::atomic<bool> callStop{false};
    auto waitFor = [](const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    };
    {
        FetchAhead ahead(
            [&](const PlannedFetch&, const StopToken& stop, FetchedBody*) {
                started = true;
                waitFor([&] { return stop.requested(); });
                sawStop = stop.requested();
            },
            1, 1, 1 << 20, StopToken(callStop));
        ahead.Plan({Item("slow")});
        waitFor([&] { return started.load(); });
        ASSERT_TRUE(started);
    }
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(callStop);  // the caller's own call goes on
}

}  // namespace
}  // namespace qm
