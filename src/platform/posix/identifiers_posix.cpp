#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/identifiers.h"

namespace kv::platform {
namespace {

class PosixIdentifiers final : public Identifiers {
 public:
  Result<std::string> Md5Hex(std::string_view data) override {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr) != 1 || size != 16) {
      return Status::Error(ErrorKind::Other, "MD5 is not available from libcrypto");
    }
    return LowerHex({reinterpret_cast<const char*>(digest), size});
  }

  Result<std::string> NewGuid() override {
    unsigned char b[16];
    std::size_t got = 0;
    while (got < sizeof b) {
      const ssize_t n = getrandom(b + got, sizeof b - got, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::Error(ErrorKind::Other, std::string("no random bytes: ") + std::strerror(errno));
      }
      got += static_cast<std::size_t>(n);
    }
    b[7] = static_cast<unsigned char>((b[7] & 0x0F) | 0x40);  // version 4, as the first field's
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    // Registry form: the first three fields as little-endian numbers, the
    // rest as bytes, which is what Windows shows for these bytes.
    char text[39];
    std::snprintf(text, sizeof text,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return std::string(text);
  }
};

}  // namespace

Identifiers& SystemIdentifiers() {
  static PosixIdentifiers identifiers;
  return identifiers;
}

}  // namespace kv::platform
