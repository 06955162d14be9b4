#pragma once
// Identifiers port: digests and new identifiers from the operating system's
// own providers (BCrypt and COM on Windows, OpenSSL's libcrypto and the
// kernel's random source elsewhere), never from code of our own.
#include <string>
#include <string_view>

#include "platform/status.h"

namespace kv::platform {

class Identifiers {
 public:
  virtual ~Identifiers() = default;
  // The MD5 digest of `data` as 32 lower-case hexadecimal digits.
  virtual Result<std::string> Md5Hex(std::string_view data) = 0;
  // A new random GUID in its registry form, upper case with braces:
  // "{6F9619FF-8B86-D011-B42D-00C04FC964FF}".
  virtual Result<std::string> NewGuid() = 0;
};

// The real providers of this system (the fake machine's digests use them too).
Identifiers& SystemIdentifiers();

// Whether `text` is a GUID in registry form as NewGuid makes it.
bool IsRegistryGuid(std::string_view text);

// `bytes` as lower-case hexadecimal digits, two per byte (how digests and
// secrets are written).
std::string LowerHex(std::string_view bytes);

}  // namespace kv::platform
