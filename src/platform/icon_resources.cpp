#include "platform/icon_resources.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "platform/pe_resources.h"

namespace kv::platform {
namespace {

constexpr std::uint16_t kRtIcon = 3, kRtGroupIcon = 14;
constexpr std::size_t kIconDirSize = 6, kIcoEntrySize = 16, kGroupEntrySize = 14;

std::uint32_t Le(std::string_view d, std::size_t off, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(d[off + i]);
  return v;
}

void Put(std::string& s, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// ICONDIR: reserved 0, type 1 (icon, not cursor), at least one entry that
// fits; gives the entry count.
std::optional<std::size_t> IconDirCount(std::string_view d, std::size_t entry_size) {
  if (d.size() < kIconDirSize || Le(d, 0, 2) != 0 || Le(d, 2, 2) != 1) return std::nullopt;
  const std::size_t count = Le(d, 4, 2);
  if (count == 0 || (d.size() - kIconDirSize) / entry_size < count) return std::nullopt;
  return count;
}

// The fields ICONDIRENTRY and GRPICONDIRENTRY share (the first 12 bytes).
IconImage EntryFields(std::string_view d, std::size_t e) {
  IconImage img;
  img.width = Le(d, e, 1) ? static_cast<int>(Le(d, e, 1)) : 256;
  img.height = Le(d, e + 1, 1) ? static_cast<int>(Le(d, e + 1, 1)) : 256;
  img.colour_count = static_cast<int>(Le(d, e + 2, 1));
  img.planes = static_cast<int>(Le(d, e + 4, 2));
  img.bit_count = static_cast<int>(Le(d, e + 6, 2));
  return img;
}

bool IsIconFile(std::string_view file) { return IconDirCount(file, kIcoEntrySize).has_value(); }

std::optional<IconGroup> ReadIconFile(std::string_view file) {
  const auto count = IconDirCount(file, kIcoEntrySize);
  if (!count) return std::nullopt;
  IconGroup g;
  std::size_t budget = file.size();
  for (std::size_t i = 0; i < *count; ++i) {
    const std::size_t e = kIconDirSize + i * kIcoEntrySize;
    const std::uint32_t size = Le(file, e + 8, 4), offset = Le(file, e + 12, 4);
    if (size == 0 || offset > file.size() || size > file.size() - offset) continue;
    if (size > budget) break;
    budget -= size;
    IconImage img = EntryFields(file, e);
    img.data = std::string(file.substr(offset, size));
    g.images.push_back(std::move(img));
  }
  if (g.images.empty()) return std::nullopt;
  return g;
}

// Bits per pixel as the directory states it; no count means 256 colours or
// more, so at least 8.
int Depth(const IconImage& img) {
  if (img.bit_count) return img.bit_count;
  if (img.colour_count == 0) return 8;
  int bits = 0;
  while (bits < 16 && (1 << bits) < img.colour_count) ++bits;
  return bits;
}

}  // namespace

int CountIconGroups(std::string_view file) {
  if (IsIconFile(file)) return 1;
  return static_cast<int>(ListPeResources(file, kRtGroupIcon).size());
}

std::optional<IconGroup> ReadIconGroup(std::string_view file, int index) {
  if (IsIconFile(file)) return index == 0 ? ReadIconFile(file) : std::nullopt;
  const auto groups = ListPeResources(file, kRtGroupIcon);
  std::optional<std::string_view> dir;
  if (index >= 0) {
    if (static_cast<std::size_t>(index) < groups.size()) dir = groups[index].data;
  } else {
    const long long id = -static_cast<long long>(index);
    for (const auto& g : groups) {
      if (g.id && *g.id == id) {
        dir = g.data;
        break;
      }
    }
  }
  if (!dir) return std::nullopt;
  const auto count = IconDirCount(*dir, kGroupEntrySize);
  if (!count) return std::nullopt;
  std::map<std::uint16_t, std::string_view> icons;
  for (const auto& r : ListPeResources(file, kRtIcon))
    if (r.id && r.data) icons.emplace(*r.id, *r.data);  // the first of a repeated id
  IconGroup g;
  std::size_t budget = file.size();
  for (std::size_t i = 0; i < *count; ++i) {
    const std::size_t e = kIconDirSize + i * kGroupEntrySize;
    IconImage img = EntryFields(*dir, e);
    img.id = static_cast<std::uint16_t>(Le(*dir, e + 12, 2));
    auto it = icons.find(img.id);
    if (it == icons.end() || it->second.empty()) continue;
    if (it->second.size() > budget) break;
    budget -= it->second.size();
    img.data = std::string(it->second);
    g.images.push_back(std::move(img));
  }
  if (g.images.empty()) return std::nullopt;
  return g;
}

std::optional<std::size_t> ChooseIconImage(const std::vector<IconImage>& images, int pixels) {
  // Smaller rank is better: exact, then larger by growing size, then smaller
  // by shrinking size; then deeper colour.
  auto rank = [pixels](const IconImage& img) {
    const int side = std::max(img.width, img.height);
    const int order = side == pixels ? 0 : side > pixels ? 1 : 2;
    return std::make_tuple(order, side > pixels ? side - pixels : pixels - side, -Depth(img));
  };
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < images.size(); ++i)
    if (!best || rank(images[i]) < rank(images[*best])) best = i;
  return best;
}

std::string BuildIconFile(const IconGroup& group) {
  const std::size_t count = std::min<std::size_t>(group.images.size(), 0xFFFF);
  std::string out;
  Put(out, 0, 2);
  Put(out, 1, 2);
  Put(out, static_cast<std::uint32_t>(count), 2);
  std::size_t offset = kIconDirSize + count * kIcoEntrySize;
  for (std::size_t i = 0; i < count; ++i) {
    const IconImage& img = group.images[i];
    Put(out, img.width >= 256 ? 0 : static_cast<std::uint32_t>(img.width), 1);
    Put(out, img.height >= 256 ? 0 : static_cast<std::uint32_t>(img.height), 1);
    Put(out, static_cast<std::uint32_t>(img.colour_count), 1);
    Put(out, 0, 1);
    Put(out, static_cast<std::uint32_t>(img.planes), 2);
    Put(out, static_cast<std::uint32_t>(img.bit_count), 2);
    Put(out, static_cast<std::uint32_t>(img.data.size()), 4);
    Put(out, static_cast<std::uint32_t>(offset), 4);
    offset += img.data.size();
  }
  for (std::size_t i = 0; i < count; ++i) out += group.images[i].data;
  return out;
}

std::optional<std::string> IconFileFromImage(std::string_view pe_image, int index) {
  auto group = ReadIconGroup(pe_image, index);
  if (!group) return std::nullopt;
  return BuildIconFile(*group);
}

}  // namespace kv::platform
