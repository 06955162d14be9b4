#pragma once
// "ukey.xml": the uninstall scanner's list as the previous run left it, in
// the data folder with the other stores.
#include <string>
#include <string_view>
#include <vector>

#include "app/data_folder.h"
#include "inventory/uninstall_scanner.h"

namespace kv::inventory {

inline constexpr std::string_view kUninstallCacheFile = "ukey.xml";

// Records in file order; a record's fields as read (no trimming), its
// "InstallLocation" also taken as its AppFolder until an "AppFolder" element
// follows, UninstallString split without the long-path step. Records without
// a DisplayName are kept for the scanner to drop. Empty when there is no
// readable file.
std::vector<UninstallEntry> LoadUninstallCache(app::DataFolder& folder);

// Rewrites the file through the ".bak" sequence; IconGroup is not written.
platform::Status SaveUninstallCache(app::DataFolder& folder,
                                    const std::vector<UninstallEntry>& entries);

// The document that SaveUninstallCache writes, header included.
std::string UninstallCacheDocument(const std::vector<UninstallEntry>& entries);

}  // namespace kv::inventory
