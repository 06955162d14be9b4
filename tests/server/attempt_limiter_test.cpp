// Rate limits kept in the database: two service processes over one database
// (two storages here) count against one limit.
#include "accounts/attempt_limiter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "storage/postgres_storage.h"
#include "test_database.h"

namespace kv::server {
namespace {

std::unique_ptr<Storage> Open(const TestDatabase& db) {
  auto s = OpenStorage(db.address());
  EXPECT_TRUE(s) << s.status().ToString();
  return s ? std::move(s).value() : nullptr;
}

TEST(AttemptLimiterTest, ProcessesShareOneLimitPerAddressAndWindow) {
  TestDatabase db;
  auto one = Open(db), two = Open(db);
  ASSERT_TRUE(one && two);
  AttemptLimiter a(*one, "sign_in", 3, 60), b(*two, "sign_in", 3, 60);
  AttemptLimiter other_kind(*two, "forms", 1, 60);

  EXPECT_TRUE(a.Take("10.0.0.1", 1000));
  EXPECT_TRUE(b.Take("10.0.0.1", 1001));
  EXPECT_TRUE(b.Allows("10.0.0.1", 1002));
  a.Count("10.0.0.1", 1002);
  EXPECT_FALSE(b.Allows("10.0.0.1", 1003));  // three events, whichever process saw them
  EXPECT_FALSE(a.Take("10.0.0.1", 1003));
  EXPECT_TRUE(a.Allows("10.0.0.2", 1003));   // another address
  EXPECT_TRUE(other_kind.Take("10.0.0.1", 1003));  // another limit
  EXPECT_FALSE(other_kind.Take("10.0.0.1", 1004));

  // A window later the address starts afresh, and the stale windows of
  // other addresses are dropped rather than kept for ever.
  EXPECT_TRUE(a.Take("10.0.0.3", 1005));
  EXPECT_TRUE(b.Take("10.0.0.1", 1060));
  EXPECT_EQ(db.Query("SELECT address, events FROM attempt_windows WHERE kind = 'sign_in' "
                     "ORDER BY address"),
            "10.0.0.1,1|10.0.0.3,1");
  // A clock a little behind shares the window; one set back further does
  // not lock an address out.
  b.Count("10.0.0.1", 1058);
  EXPECT_EQ(db.Query("SELECT window_start, events FROM attempt_windows WHERE address = '10.0.0.1' "
                     "AND kind = 'sign_in'"),
            "1060,2");
  EXPECT_TRUE(a.Allows("10.0.0.1", 900));

  AttemptLimiter unlimited(*one, "sign_in", 0, 60);
  EXPECT_TRUE(unlimited.Take("10.0.0.1", 1061));
}

// Counting is a read and a write: events from several processes at once
// must all be counted, which takes writers that wait for each other.
TEST(AttemptLimiterTest, EventsFromProcessesAtOnceAreAllCounted) {
  TestDatabase db;
  auto one = Open(db), two = Open(db);
  ASSERT_TRUE(one && two);
  constexpr int kThreads = 6, kEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      AttemptLimiter limiter(t % 2 ? *one : *two, "sign_in", 1000, 3600);
      for (int i = 0; i < kEach; ++i) limiter.Count("10.0.0.9", 5000);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(db.Query("SELECT events FROM attempt_windows"), std::to_string(kThreads * kEach));
}

}  // namespace
}  // namespace kv::server
