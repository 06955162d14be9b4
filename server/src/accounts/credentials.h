#pragma once
// Credentials: what the client sends as `password` (the MD5 digest of the
// typed password, or the secret a guest was issued) is stored only as an
// Argon2id hash with its own salt. Checking one costs tens of milliseconds
// on purpose, so checks that succeeded are remembered in memory under a
// keyed hash (never the digest itself) and a client's every request does not
// pay it again.
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/status.h"

namespace kv::server {

struct CredentialCost {
  unsigned long long ops = 2;             // Argon2id passes
  std::size_t memory = 19u << 20;         // bytes
  // The cheapest libsodium allows: tests only.
  static CredentialCost Cheapest();
};

class Credentials {
 public:
  explicit Credentials(CredentialCost cost = {}, std::size_t remembered = 100000);

  // The stored form of `secret` (an "$argon2id$..." string).
  platform::Result<std::string> Hash(std::string_view secret) const;
  // Whether `secret` matches the stored form.
  bool Verify(std::string_view stored, std::string_view secret);
  // Whether this pair was verified lately: Verify would answer at once.
  bool IsRemembered(std::string_view stored, std::string_view secret);

  // A fresh secret for a guest: 32 lower-case hexadecimal digits.
  static std::string NewGuestSecret();

 private:
  std::string CacheKey(std::string_view stored, std::string_view secret) const;

  CredentialCost cost_;
  std::size_t remembered_;
  unsigned char key_[32];
  std::mutex mutex_;
  std::unordered_set<std::string> verified_;
};

}  // namespace kv::server
