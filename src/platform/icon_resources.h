#pragma once
// Icon groups read out of PE images (RT_GROUP_ICON and its RT_ICON images)
// and .ico files, the image Windows would choose for a size, and .ico files
// written from a group. Bounds-checked: malformed input gives nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// One image of a group as its directory entry describes it.
struct IconImage {
  int width = 0;   // 1..256 (a 0 in the directory means 256)
  int height = 0;
  int colour_count = 0;  // 0 for 256 colours or more
  int planes = 0;
  int bit_count = 0;     // 0 when the directory does not say
  std::uint16_t id = 0;  // the RT_ICON id; 0 in an .ico file
  std::string data;      // a DIB (header, colour, mask) or a PNG file
};

struct IconGroup {
  std::vector<IconImage> images;
};

// The number of icon groups in a PE image (1 for an .ico file).
int CountIconGroups(std::string_view file);

// A group by ExtractIconEx's index (see Shell::ExtractFileIcon). Images
// whose data lies outside the file are left out, and so are those past the
// point where the group would hold more bytes than the file has (entries
// sharing their data cannot multiply it); nullopt when none is left.
std::optional<IconGroup> ReadIconGroup(std::string_view file, int index);

// The image drawn at `pixels`: the exact size, else the smallest larger one
// (scaled down), else the largest smaller one; among equal sizes the
// deepest colour (the bit count, else from the colour count), then the
// first. Sizes compare by the longer side. Windows picks the same image for
// the usual groups. nullopt for no images.
std::optional<std::size_t> ChooseIconImage(const std::vector<IconImage>& images, int pixels);

// A standard .ico file: ICONDIR, one ICONDIRENTRY per image with its
// 32-bit file offset, then the images in the same order.
std::string BuildIconFile(const IconGroup& group);

// The .ico file of a group of a PE image (or of an .ico file), for the icon
// cache; nullopt when there is no such group.
std::optional<std::string> IconFileFromImage(std::string_view pe_image, int index);

}  // namespace kv::platform
