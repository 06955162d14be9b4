#pragma once
// A certificate authority made for one test, and server certificates it
// signs (P-256 keys, valid a day), as PEM text.
#include <memory>
#include <string>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace kv::server {

struct PemPair {
  std::string certificate;
  std::string key;
};

class TestAuthority {
 public:
  // Named `name`; false from ok() when OpenSSL could not make it.
  explicit TestAuthority(const std::string& name);
  ~TestAuthority();
  bool ok() const { return ca_ != nullptr; }
  const std::string& certificate_pem() const { return ca_pem_; }

  // A server certificate for `hosts` (IP addresses or DNS names, the first
  // also its common name), signed by this authority; empty on failure.
  PemPair IssueServer(const std::vector<std::string>& hosts) const;

 private:
  EVP_PKEY* key_ = nullptr;
  X509* ca_ = nullptr;
  std::string ca_pem_;
};

}  // namespace kv::server
