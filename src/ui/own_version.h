#pragma once
// The running executable's own version, as the inventory reads its VERSIONINFO.
#include <cstdint>
#include <string>
#include <vector>

namespace kv::ui {

// The fixed product version's components (trailing zeros dropped while more
// than two remain); empty without a version resource.
std::vector<std::uint32_t> OwnProductVersion();

// "1.0": the first two components, as the about box shows the version.
std::string VersionText(const std::vector<std::uint32_t>& version);

}  // namespace kv::ui
