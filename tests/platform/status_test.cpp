#include "platform/status.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kv::platform {
namespace {

TEST(Status, SuccessAndFailureKeepTheirReason) {
  const Status ok;
  EXPECT_TRUE(ok.ok());
  EXPECT_EQ(ok.ToString(), "OK");
  EXPECT_FALSE(ok.Is(ErrorKind::Other));

  const Status busy = Status::Error(ErrorKind::SharingViolation, "C:\\x\\softList.xml", 32);
  EXPECT_FALSE(busy);
  EXPECT_TRUE(busy.Is(ErrorKind::SharingViolation));
  EXPECT_FALSE(busy.Is(ErrorKind::NotFound));
  EXPECT_EQ(busy.code(), 32u);
  EXPECT_EQ(busy.ToString(), "in use by another program: C:\\x\\softList.xml (error 32)");
  const Status copy = busy;  // copies share the failure
  EXPECT_EQ(copy.message(), busy.message());
  EXPECT_EQ(Status::Error(ErrorKind::Timeout, "").ToString(), "timed out");
}

struct Thing {
  int n = 0;
  int Get() const { return n; }
};

TEST(Result, ReadsLikeAnOptionalAndKeepsTheReason) {
  Result<std::string> text = std::string("abc");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 3u);
  EXPECT_EQ(*text, "abc");
  EXPECT_TRUE(text == "abc");
  EXPECT_TRUE(text.status().ok());

  Result<std::string> missing = Status::Error(ErrorKind::NotFound, "x");
  EXPECT_FALSE(missing);
  EXPECT_FALSE(missing == "");
  EXPECT_TRUE(missing.status().Is(ErrorKind::NotFound));
  EXPECT_EQ(missing.value_or("fallback"), "fallback");

  // Built from a success status by mistake: still a failure, never a value.
  Result<int> confused = Status::Ok();
  EXPECT_FALSE(confused);
  EXPECT_FALSE(confused.status().ok());
}

TEST(Result, AnOwnedPointerIsReachedThroughIt) {
  Result<std::unique_ptr<Thing>> owned = std::make_unique<Thing>(Thing{7});
  ASSERT_TRUE(owned);
  EXPECT_EQ(owned->Get(), 7);
  EXPECT_EQ((*owned).n, 7);
  EXPECT_FALSE(owned == nullptr);
  std::unique_ptr<Thing> taken = std::move(owned).value();
  EXPECT_EQ(taken->n, 7);

  // An empty pointer is no object: a failure, never a success to dereference.
  Result<std::unique_ptr<Thing>> empty = std::unique_ptr<Thing>();
  EXPECT_FALSE(empty);
  EXPECT_FALSE(empty.status().ok());

  Result<std::unique_ptr<Thing>> none = Status::Error(ErrorKind::AccessDenied, "key");
  EXPECT_TRUE(none == nullptr);
  EXPECT_TRUE(none.status().Is(ErrorKind::AccessDenied));
}

}  // namespace
}  // namespace kv::platform
