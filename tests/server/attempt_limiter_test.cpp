// Rate limits kept in the database: two service processes over one database
// (two storages here) count against one limit.
#include "accounts/attempt_limiter.h"

#include <gtest/gtest.h>

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
  // A clock that went back does not lock an address out.
  EXPECT_TRUE(a.Allows("10.0.0.1", 900));

  AttemptLimiter unlimited(*one, "sign_in", 0, 60);
  EXPECT_TRUE(unlimited.Take("10.0.0.1", 1061));
}

}  // namespace
}  // namespace kv::server
