#pragma once
// "ukey.xml": the uninstall scanner's list as the previous run left it, in
// the data folder with the other stores.
#include <string_view>
#include <vector>

#include "inventory/uninstall_scanner.h"

namespace kv::service {

inline constexpr std::string_view kUninstallCacheFile = "ukey.xml";

// The XML file behind UninstallScanner::LoadCache and SaveCache. It holds no
// state, so one instance may serve every cached scanner.
class UninstallXmlCache final : public inventory::UninstallCacheStore {
 public:
  // Records in file order; a record's fields as read (no trimming), its
  // "InstallLocation" also taken as its AppFolder until an "AppFolder"
  // element follows. Records without a DisplayName are kept for the scanner
  // to drop.
  std::vector<inventory::UninstallEntry> Load(app::DataFolder& folder) override;
  // Rewrites the file through the ".bak" sequence; IconGroup is not written.
  void Save(app::DataFolder& folder,
            const std::vector<inventory::UninstallEntry>& entries) override;
};

// The shared instance for the scanners that are cached.
UninstallXmlCache& UninstallCache();

// The document that Save writes, header included.
std::string UninstallCacheDocument(const std::vector<inventory::UninstallEntry>& entries);

}  // namespace kv::service
