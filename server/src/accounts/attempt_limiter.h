#pragma once
// Counts events per key (an address) in fixed windows and says when a key
// has had its share: failed credential checks and new guest accounts each
// cost the service a slow hash, so one address may not ask for them
// without end. The windows live in the database, so every service process
// over it counts against one limit. Safe to use from many threads; call it
// while holding no write transaction (it takes its own).
#include <cstdint>
#include <string>
#include <string_view>

#include "storage/storage.h"

namespace kv::server {

class AttemptLimiter {
 public:
  // At most `limit` events per key in any window of `window_seconds`
  // (0: no limit); `kind` keeps this limit's counts apart from others'.
  AttemptLimiter(Storage& storage, std::string kind, int limit, std::int64_t window_seconds);

  // Whether another event of `key` at `now` is within the limit.
  bool Allows(std::string_view key, std::int64_t now);
  // Counts one event of `key` at `now`.
  void Count(std::string_view key, std::int64_t now);
  // Allows and counts in one step, so that concurrent requests cannot all
  // pass on the last free place.
  bool Take(std::string_view key, std::int64_t now);

 private:
  Storage& storage_;
  const std::string kind_;
  const int limit_;
  const std::int64_t window_;
};

}  // namespace kv::server
