// Icons through PrivateExtractIconsW: EXE, DLL and ICO files, negative
// indexes as resource ids, the chosen image scaled to the size asked for.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/icon_resources.h"
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

// GRPICONDIRENTRY: an RT_GROUP_ICON's description of one RT_ICON image.
#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colour_count, reserved;
  WORD planes, bit_count;
  DWORD bytes_in_res;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14);

// The name of the group at a position, as EnumResourceNames walks them.
struct GroupSearch {
  int wanted = 0;
  int seen = 0;
  bool found = false;
  bool is_id = false;
  WORD id = 0;
  std::wstring text;
};

BOOL CALLBACK FindGroupAt(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* search = reinterpret_cast<GroupSearch*>(param);
  if (search->seen++ < search->wanted) return TRUE;
  search->found = true;
  search->is_id = IS_INTRESOURCE(name);
  if (search->is_id) search->id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  else search->text = name;
  return FALSE;  // stops the walk
}

// A group's images together are never more than this (a 256-pixel 32-bit
// bitmap is 257 KiB; a group of the usual sizes stays far below).
constexpr std::size_t kMaxGroupBytes = 4u << 20;

// Whether [data, data + size) is readable memory: a malformed image can
// name resources outside the file's mapping.
bool Readable(const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  const char* end = at + size;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(at, &info, sizeof info) || info.State != MEM_COMMIT ||
        (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
      return false;
    at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

// A resource's bytes, valid while the module stays loaded.
std::string_view ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
  HRSRC found = FindResourceW(module, name, type);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, found);
  if (!data || !Readable(data, size)) return {};
  return {static_cast<const char*>(data), size};
}

// A full path: a bare name would make the loader search for a library.
bool IsFullPath(std::string_view path) {
  return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         path.rfind("\\\\", 0) == 0;
}

}  // namespace

std::optional<std::string> Win32Shell::ReadIconGroupFile(std::string_view module, int index) {
  if (!IsFullPath(module)) return std::nullopt;
  // Mapped as a data file: nothing runs, only the pages holding the
  // resources are read, and images the loader would reject as programs
  // still give their resources.
  ScopedModule loaded(LoadLibraryExW(Widen(module).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!loaded) return std::nullopt;
  std::string_view group;
  if (index < 0) {
    if (index < -0xFFFF) return std::nullopt;
    group = ResourceBytes(loaded.get(), MAKEINTRESOURCEW(-index), RT_GROUP_ICON);
  } else {
    GroupSearch search;
    search.wanted = index;
    EnumResourceNamesW(loaded.get(), RT_GROUP_ICON, FindGroupAt,
                       reinterpret_cast<LONG_PTR>(&search));
    if (!search.found) return std::nullopt;
    group = ResourceBytes(loaded.get(),
                          search.is_id ? MAKEINTRESOURCEW(search.id) : search.text.c_str(),
                          RT_GROUP_ICON);
  }
  // GRPICONDIR: reserved, type (1 for icons), count, then the entries.
  if (group.size() < 6) return std::nullopt;
  WORD type = 0, count = 0;
  memcpy(&type, group.data() + 2, sizeof type);
  memcpy(&count, group.data() + 4, sizeof count);
  if (type != 1 || group.size() < 6 + std::size_t{count} * sizeof(GroupIconEntry))
    return std::nullopt;
  IconGroup out;
  std::size_t total = 0;
  std::vector<WORD> taken;
  for (WORD i = 0; i < count; ++i) {
    GroupIconEntry e;
    memcpy(&e, group.data() + 6 + std::size_t{i} * sizeof e, sizeof e);
    // Entries naming one image again cannot multiply the file.
    if (std::find(taken.begin(), taken.end(), e.id) != taken.end()) continue;
    taken.push_back(e.id);
    const std::string_view image = ResourceBytes(loaded.get(), MAKEINTRESOURCEW(e.id), RT_ICON);
    if (image.empty()) continue;
    if (total + image.size() > kMaxGroupBytes) break;
    total += image.size();
    IconImage img;
    img.width = e.width ? e.width : 256;
    img.height = e.height ? e.height : 256;
    img.colour_count = e.colour_count;
    img.planes = e.planes;
    img.bit_count = e.bit_count;
    img.id = e.id;
    img.data.assign(image);
    out.images.push_back(std::move(img));
  }
  if (out.images.empty()) return std::nullopt;
  return BuildIconFile(out);
}

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
