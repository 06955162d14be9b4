#include "accounts/attempt_limiter.h"

namespace kv::server {

// A database that cannot be read or written errs on the side of serving:
// the request that follows needs the database too and fails on its own.

namespace {

// Whether `now` is past the window that began at `start`. Processes whose
// clocks differ by less than a window share it; a clock set back further
// starts afresh rather than lock an address out.
bool Expired(std::int64_t start, std::int64_t now, std::int64_t window) {
  return now - start >= window || start - now >= window;
}

}  // namespace

AttemptLimiter::AttemptLimiter(Storage& storage, std::string kind, int limit,
                               std::int64_t window_seconds)
    : storage_(storage),
      kind_(std::move(kind)),
      limit_(limit),
      window_(window_seconds > 0 ? window_seconds : 1) {}

bool AttemptLimiter::Allows(std::string_view key, std::int64_t now) {
  if (limit_ <= 0) return true;
  auto tx = storage_.Begin(false);
  if (!tx) return true;
  const auto w = tx->FindAttemptWindow(kind_, key);
  if (!w || Expired(w->start, now, window_)) return true;
  return w->events < limit_;
}

void AttemptLimiter::Count(std::string_view key, std::int64_t now) { Take(key, now); }

bool AttemptLimiter::Take(std::string_view key, std::int64_t now) {
  if (limit_ <= 0) return true;
  auto begun = storage_.Begin(true);
  if (!begun) return true;
  Transaction& tx = *begun;
  AttemptWindow w = tx.FindAttemptWindow(kind_, key).value_or(AttemptWindow{now, 0});
  if (Expired(w.start, now, window_)) {
    // A new window: the old ones of every address are of no use any more.
    w = {now, 0};
    tx.ForgetAttemptWindows(kind_, now - window_).IgnoreError();
  }
  if (w.events >= limit_) return false;
  ++w.events;
  tx.PutAttemptWindow(kind_, key, w).IgnoreError();
  tx.Commit().IgnoreError();  // not counted: the request is served all the same
  return true;
}

}  // namespace kv::server
