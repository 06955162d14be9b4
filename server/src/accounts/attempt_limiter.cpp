#include "accounts/attempt_limiter.h"

namespace kv::server {
namespace {
// Beyond this many keys, expired windows are dropped before a new one.
constexpr std::size_t kMaxKeys = 100000;
}  // namespace

AttemptLimiter::AttemptLimiter(int limit, std::int64_t window_seconds)
    : limit_(limit), window_(window_seconds > 0 ? window_seconds : 1) {}

bool AttemptLimiter::Allows(std::string_view key, std::int64_t now) {
  if (limit_ <= 0) return true;
  std::lock_guard lock(mutex_);
  const auto found = windows_.find(std::string(key));
  if (found == windows_.end() || now - found->second.start >= window_) return true;
  return found->second.events < limit_;
}

void AttemptLimiter::Count(std::string_view key, std::int64_t now) { Take(key, now); }

bool AttemptLimiter::Take(std::string_view key, std::int64_t now) {
  if (limit_ <= 0) return true;
  std::lock_guard lock(mutex_);
  auto found = windows_.find(std::string(key));
  if (found == windows_.end()) {
    if (windows_.size() >= kMaxKeys) ForgetOld(now);
    found = windows_.emplace(std::string(key), Window{now, 0}).first;
  }
  Window& w = found->second;
  if (now - w.start >= window_) w = {now, 0};
  if (w.events >= limit_) return false;
  ++w.events;
  return true;
}

void AttemptLimiter::ForgetOld(std::int64_t now) {
  for (auto it = windows_.begin(); it != windows_.end();) {
    if (now - it->second.start >= window_) it = windows_.erase(it);
    else ++it;
  }
  // Still full: a flood of addresses. Forgetting them all errs on the side
  // of serving.
  if (windows_.size() >= kMaxKeys) windows_.clear();
}

}  // namespace kv::server
