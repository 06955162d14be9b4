#include "protocol/ico_file.h"

#include <cstdint>

namespace kv::server {
namespace {

std::uint32_t Little(std::string_view bytes, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

}  // namespace

bool IsIcoFile(std::string_view bytes) {
  constexpr std::size_t kHeader = 6, kEntry = 16;
  if (bytes.size() < kHeader) return false;
  if (Little(bytes, 0, 2) != 0 || Little(bytes, 2, 2) != 1) return false;  // reserved, type 1: icon
  const std::size_t count = Little(bytes, 4, 2);
  if (count == 0 || bytes.size() < kHeader + count * kEntry) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = kHeader + i * kEntry;
    const std::uint64_t size = Little(bytes, entry + 8, 4);
    const std::uint64_t offset = Little(bytes, entry + 12, 4);
    if (size < 40 || offset < kHeader + count * kEntry || offset + size > bytes.size()) return false;
    const std::string_view image = bytes.substr(offset, size);
    const bool png = image.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8);
    const bool bitmap = Little(image, 0, 4) == 40;
    if (!png && !bitmap) return false;
  }
  return true;
}

}  // namespace kv::server
