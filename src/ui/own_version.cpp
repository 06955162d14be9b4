#include "ui/own_version.h"

#include <windows.h>

namespace kv::ui {

std::vector<std::uint32_t> OwnProductVersion() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, sizeof(path) / sizeof(path[0]));
  if (n == 0 || n >= sizeof(path) / sizeof(path[0])) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return {};
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || !fixed ||
      len < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BD)
    return {};
  return {HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
          HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
}

std::string VersionText(const std::vector<std::uint32_t>& version) {
  if (version.size() < 2) return "???";
  return std::to_string(version[0]) + "." + std::to_string(version[1]);
}

}  // namespace kv::ui
