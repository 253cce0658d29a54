// The places among a host's connections: kept ones are handed out first, and no host ever has
// more than its number open, in use or kept.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "connection_pool.h"
#include "platform/stop_token.h"

namespace qm {
namespace {

using platform::NetStatus;

TEST(ConnectionPool, AHostHasItsNumberOfConnectionsAndNoMore) {
    ConnectionPool pool;
    const std::string a = ConnectionPool::Key(false, "a", 80), b = ConnectionPool::Key(true, "a", 80);
    std::unique_ptr<Transport> connection;
    for (int i = 0; i < kMostConnectionsPerHost; ++i) {
        ASSERT_EQ(pool.Acquire(a, &connection, {1000, StopToken()}), NetStatus::Ok);
        EXPECT_EQ(connection, nullptr);  // none kept: the caller opens one
    }
    EXPECT_EQ(pool.Acquire(a, &connection, {50, StopToken()}), NetStatus::TimedOut);
    EXPECT_EQ(pool.Acquire(b, &connection, {1000, StopToken()}),
              NetStatus::Ok);  // another scheme, another host

    // A connection given back is the next one handed out; a closed one frees its place.
    auto kept = std::make_unique<Transport>();
    Transport* keptAt = kept.get();
    pool.Release(a, std::move(kept));
    ASSERT_EQ(pool.Acquire(a, &connection, {1000, StopToken()}), NetStatus::Ok);
    EXPECT_EQ(connection.get(), keptAt);
    EXPECT_EQ(pool.Acquire(a, &connection, {50, StopToken()}), NetStatus::TimedOut);
    pool.Release(a, nullptr);
    connection.reset();
    EXPECT_EQ(pool.Acquire(a, &connection, {1000, StopToken()}), NetStatus::Ok);
    EXPECT_EQ(connection, nullptr);

    const std::atomic<bool> raised{true};
    EXPECT_EQ(pool.Acquire(a, &connection, {60000, StopToken(raised)}), NetStatus::Stopped);
}

}  // namespace
}  // namespace qm
