#pragma once
// Builds VS_VERSIONINFO blocks and minimal PE images around them, so a fake
// machine can hold executables with any shape of version resource and icons.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kv::platform {

struct VersionStrings {
  std::string table_key;  // "040904b0"
  std::vector<std::pair<std::string, std::string>> values;
};

struct VersionSpec {
  bool fixed = true;
  std::uint16_t product[4] = {1, 0, 0, 0};
  std::uint16_t file[4] = {1, 0, 0, 0};
  std::vector<std::pair<std::uint16_t, std::uint16_t>> translations = {{0x0409, 0x04B0}};
  bool translation_table = true;
  std::vector<VersionStrings> tables;
};

// The raw block as GetFileVersionInfoW returns it.
std::string BuildVersionBlock(const VersionSpec& layout);

// One RT_GROUP_ICON of a built image.
struct IconGroupSpec {
  std::uint16_t id = 1;    // the group's resource id, when it has no name
  std::string name;        // a named group ("MAINICON", upper case as rc writes it)
  std::vector<int> sizes;  // square 32-bit images, 1 to 256 pixels
};

// A square 32-bit icon image (a DIB: header, colour, mask) of one opaque
// colour, as RT_ICON and .ico files hold it.
std::string BuildIconImage(int size, std::uint32_t bgra);

// A PE32+ image whose resource section holds `version_block` as RT_VERSION
// (id 1) and the icon groups (their images numbered 1, 2, ... as RT_ICON),
// all in language 1033 and in the directory order linkers write; without
// either the image has no resources.
std::string BuildPeImage(const std::string* version_block,
                         const std::vector<IconGroupSpec>& icon_groups = {});

}  // namespace kv::platform
