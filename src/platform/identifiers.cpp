#include "platform/identifiers.h"

namespace kv::platform {

bool IsRegistryGuid(std::string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const char ch = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (ch != '-') return false;
    } else if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F'))) {
      return false;
    }
  }
  return true;
}

std::string LowerHex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

}  // namespace kv::platform
