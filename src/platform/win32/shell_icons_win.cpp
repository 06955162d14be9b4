// Icons through PrivateExtractIconsW: EXE, DLL and ICO files, negative
// indexes as resource ids, the chosen image scaled to the size asked for.
#include <windows.h>

#include "platform/win32/icon_win.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_adapters.h"

namespace kv::platform::win32 {
namespace {

class Win32Icon final : public Icon {
 public:
  Win32Icon(ScopedIcon icon, int width, int height, unsigned id)
      : icon_(std::move(icon)), width_(width), height_(height), id_(id) {}
  int width() const override { return width_; }
  int height() const override { return height_; }
  HICON handle() const { return icon_.get(); }
  unsigned id() const { return id_; }

 private:
  ScopedIcon icon_;
  int width_, height_;
  unsigned id_;
};

// The size of the icon's bitmaps; a monochrome icon's mask holds both halves.
bool IconBitmapSize(HICON icon, int& width, int& height) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  const ScopedGdiObject colour(info.hbmColor), mask(info.hbmMask);
  BITMAP bm{};
  if (colour) {
    if (!GetObjectW(colour.get(), sizeof bm, &bm)) return false;
    width = bm.bmWidth, height = bm.bmHeight;
    return true;
  }
  if (!mask || !GetObjectW(mask.get(), sizeof bm, &bm)) return false;
  width = bm.bmWidth, height = bm.bmHeight / 2;
  return true;
}

}  // namespace

std::unique_ptr<Icon> Win32Shell::ExtractFileIcon(std::string_view file, int index, IconSize size) {
  const std::wstring wfile = Widen(file);
  const int pixels = IconPixels(size);
  HICON raw = nullptr;
  UINT id = 0;
  // Returns the number extracted, 0xFFFFFFFF when the file is missing.
  const UINT n = PrivateExtractIconsW(wfile.c_str(), index, pixels, pixels, &raw, &id, 1, LR_DEFAULTCOLOR);
  ScopedIcon icon(raw);
  if (n == 0 || n == 0xFFFFFFFF || !icon) return nullptr;
  int width = 0, height = 0;
  if (!IconBitmapSize(icon.get(), width, height)) return nullptr;
  return std::make_unique<Win32Icon>(std::move(icon), width, height, id == 0xFFFFFFFF ? 0 : id);
}

HICON IconHandle(const Icon& icon) {
  const auto* w = dynamic_cast<const Win32Icon*>(&icon);
  return w ? w->handle() : nullptr;
}

unsigned IconResourceId(const Icon& icon) {
  const auto* w = dynamic_cast<const Win32Icon*>(&icon);
  return w ? w->id() : 0;
}

}  // namespace kv::platform::win32
