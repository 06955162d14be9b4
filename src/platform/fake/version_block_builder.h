#pragma once
// Builds VS_VERSIONINFO blocks and minimal PE images around them, so a fake
// machine can hold executables with any shape of version resource.
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

// A PE32+ image whose resource section holds `version_block` as RT_VERSION
// (id 1, language 1033); without a block the image has no resources.
std::string BuildPeImage(const std::string* version_block);

}  // namespace kv::platform
