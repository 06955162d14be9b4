#include "text/format.h"

#include <cstdio>

namespace kv::text {

std::string FormatV(const char* fmt, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, n);
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  va_copy(copy, args);
  std::vsnprintf(out.data(), out.size(), fmt, copy);
  va_end(copy);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = FormatV(fmt, args);
  va_end(args);
  return out;
}

}  // namespace kv::text
