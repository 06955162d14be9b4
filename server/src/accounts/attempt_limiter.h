#pragma once
// Counts events per key (an address) in fixed windows and says when a key
// has had its share: failed credential checks and new guest accounts each
// cost the service a slow hash, so one address may not ask for them
// without end. Safe to use from many threads.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kv::server {

class AttemptLimiter {
 public:
  // At most `limit` events per key in any window of `window_seconds`
  // (0: no limit).
  AttemptLimiter(int limit, std::int64_t window_seconds);

  // Whether another event of `key` at `now` is within the limit.
  bool Allows(std::string_view key, std::int64_t now);
  // Counts one event of `key` at `now`.
  void Count(std::string_view key, std::int64_t now);
  // Allows and counts in one step, so that concurrent requests cannot all
  // pass on the last free place.
  bool Take(std::string_view key, std::int64_t now);

 private:
  struct Window {
    std::int64_t start = 0;
    int events = 0;
  };
  void ForgetOld(std::int64_t now);

  const int limit_;
  const std::int64_t window_;
  std::mutex mutex_;
  std::unordered_map<std::string, Window> windows_;
};

}  // namespace kv::server
