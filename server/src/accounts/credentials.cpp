#include "accounts/credentials.h"

#include <sodium.h>

#include <stdexcept>

#include "platform/identifiers.h"

namespace kv::server {

CredentialCost CredentialCost::Cheapest() {
  return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

Credentials::Credentials(CredentialCost cost, std::size_t remembered)
    : cost_(cost), remembered_(remembered) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
  randombytes_buf(key_, sizeof key_);
}

platform::Result<std::string> Credentials::Hash(std::string_view secret) const {
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, secret.data(), secret.size(), cost_.ops, cost_.memory,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    return platform::Status::Error(platform::ErrorKind::Other, "out of memory hashing a credential");
  }
  return std::string(out);
}

std::string Credentials::CacheKey(std::string_view stored, std::string_view secret) const {
  // Keyed with a secret of this process: the set reveals nothing if dumped.
  crypto_generichash_state state;
  crypto_generichash_init(&state, key_, sizeof key_, 32);
  const std::uint64_t n = stored.size();
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&n), sizeof n);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
  unsigned char digest[32];
  crypto_generichash_final(&state, digest, sizeof digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

bool Credentials::IsRemembered(std::string_view stored, std::string_view secret) {
  if (stored.empty()) return false;
  const std::string key = CacheKey(stored, secret);
  std::lock_guard lock(mutex_);
  return verified_.count(key) != 0;
}

bool Credentials::Verify(std::string_view stored, std::string_view secret) {
  if (stored.empty()) return false;
  const std::string key = CacheKey(stored, secret);
  {
    std::lock_guard lock(mutex_);
    if (verified_.count(key)) return true;
  }
  const std::string text(stored);  // libsodium wants it terminated
  if (crypto_pwhash_str_verify(text.c_str(), secret.data(), secret.size()) != 0) return false;
  std::lock_guard lock(mutex_);
  if (verified_.size() >= remembered_) verified_.clear();  // crude, and never wrong
  verified_.insert(key);
  return true;
}

std::string Credentials::NewGuestSecret() {
  unsigned char bytes[16];
  randombytes_buf(bytes, sizeof bytes);
  return platform::LowerHex({reinterpret_cast<const char*>(bytes), sizeof bytes});
}

}  // namespace kv::server
