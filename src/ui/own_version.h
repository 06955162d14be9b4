#pragma once
// The running executable's own version, read from its VERSIONINFO. Kept
// behind this function so the version-resource reader can take over later.
#include <cstdint>
#include <string>
#include <vector>

namespace kv::ui {

// The fixed product version's four components; empty without a version resource.
std::vector<std::uint32_t> OwnProductVersion();

// "1.0": the first two components, as the about box shows the version.
std::string VersionText(const std::vector<std::uint32_t>& version);

}  // namespace kv::ui
