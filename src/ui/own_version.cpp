#include "ui/own_version.h"

#include "inventory/file_version_info.h"
#include "platform/machine.h"

namespace kv::ui {

std::vector<std::uint32_t> OwnProductVersion() {
  // The inventory's reading of the own version resource, read once per process.
  const auto& info = inventory::OwnFileVersionInfo(platform::SystemMachine().shell);
  std::vector<std::uint32_t> parts;
  for (const auto& c : info.FixedProductVersion.components)
    parts.push_back(static_cast<std::uint32_t>(c.value));
  return parts;
}

std::string VersionText(const std::vector<std::uint32_t>& version) {
  if (version.size() < 2) return "???";
  return std::to_string(version[0]) + "." + std::to_string(version[1]);
}

}  // namespace kv::ui
