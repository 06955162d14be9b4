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

}  // namespace kv::platform
