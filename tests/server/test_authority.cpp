#include "test_authority.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace kv::server {
namespace {

bool AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (ext == nullptr) return false;
  const bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

std::string Pem(int (*write)(BIO*, void*), void* object) {
  BIO* out = BIO_new(BIO_s_mem());
  if (out == nullptr) return {};
  std::string pem;
  char* data = nullptr;
  if (write(out, object) == 1) {
    const long size = BIO_get_mem_data(out, &data);
    if (size > 0) pem.assign(data, static_cast<std::size_t>(size));
  }
  BIO_free(out);
  return pem;
}

std::string CertPem(X509* cert) {
  return Pem([](BIO* b, void* c) { return PEM_write_bio_X509(b, static_cast<X509*>(c)); }, cert);
}

std::string KeyPem(EVP_PKEY* key) {
  return Pem(
      [](BIO* b, void* k) {
        return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0,
                                        nullptr, nullptr);
      },
      key);
}

// A certificate for `subject_key` named `cn`, serial `serial`, valid a day.
X509* NewCertificate(EVP_PKEY* subject_key, const std::string& cn, long serial) {
  X509* c = X509_new();
  if (c == nullptr) return nullptr;
  X509_NAME* name = X509_get_subject_name(c);
  const auto text = reinterpret_cast<const unsigned char*>(cn.c_str());
  if (X509_set_version(c, 2) != 1 || ASN1_INTEGER_set(X509_get_serialNumber(c), serial) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(c), -3600) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(c), 86400) == nullptr ||
      X509_set_pubkey(c, subject_key) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, text, -1, -1, 0) != 1) {
    X509_free(c);
    return nullptr;
  }
  return c;
}

}  // namespace

TestAuthority::TestAuthority(const std::string& name) {
  key_ = EVP_EC_gen("P-256");
  if (key_ == nullptr) return;
  X509* c = NewCertificate(key_, name, 1);
  if (c == nullptr) return;
  if (X509_set_issuer_name(c, X509_get_subject_name(c)) != 1 ||
      !AddExtension(c, c, NID_basic_constraints, "critical,CA:TRUE") ||
      !AddExtension(c, c, NID_key_usage, "critical,keyCertSign,cRLSign") ||
      !AddExtension(c, c, NID_subject_key_identifier, "hash") ||
      X509_sign(c, key_, EVP_sha256()) == 0) {
    X509_free(c);
    return;
  }
  ca_ = c;
  ca_pem_ = CertPem(ca_);
}

TestAuthority::~TestAuthority() {
  X509_free(ca_);
  EVP_PKEY_free(key_);
}

PemPair TestAuthority::IssueServer(const std::vector<std::string>& hosts) const {
  if (!ok() || hosts.empty()) return {};
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (key == nullptr) return {};
  static long serial = 100;
  X509* c = NewCertificate(key, hosts.front(), ++serial);
  std::string names;
  for (const std::string& h : hosts) {
    const bool ip = h.find_first_not_of("0123456789.:") == std::string::npos;
    names += (names.empty() ? "" : ",") + std::string(ip ? "IP:" : "DNS:") + h;
  }
  PemPair out;
  if (c != nullptr && X509_set_issuer_name(c, X509_get_subject_name(ca_)) == 1 &&
      AddExtension(c, ca_, NID_basic_constraints, "critical,CA:FALSE") &&
      AddExtension(c, ca_, NID_ext_key_usage, "serverAuth") &&
      AddExtension(c, ca_, NID_subject_alt_name, names) &&
      AddExtension(c, ca_, NID_authority_key_identifier, "keyid") &&
      X509_sign(c, key_, EVP_sha256()) != 0) {
    out = {CertPem(c), KeyPem(key)};
  }
  X509_free(c);
  EVP_PKEY_free(key);
  return out;
}

}  // namespace kv::server
