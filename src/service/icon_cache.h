#pragma once
// The icon cache: "cache\icons\<id>.ico" in the data folder, one standard
// .ico file per program (named by its GlobalId, or "local_" and its LocalId
// until it has one), holding every image of the icon group the icon search
// found. The icon upload packs these files; the software list draws from them.
#include <string>

#include "app/data_folder.h"
#include "platform/machine.h"
#include "service/software_info.h"

namespace kv::service {

inline constexpr char kLocalIconPrefix[] = "local_";

// The cache file's name without ".ico"; empty when the program's key cannot
// name a file (no key, a reserved device name, characters no file name holds).
std::string IconCacheName(const SoftwareInfo& program);
// The cache file's path, whether or not it exists; empty as above.
std::string IconCachePath(app::DataFolder& data_folder, const SoftwareInfo& program);
// Deletes the program's cache file: its icon source changed, or the name
// it is kept under did.
void ForgetCachedIcon(platform::FileSystem& files, app::DataFolder& data_folder,
                      const SoftwareInfo& program);

// The cache file, written from the program's icon source when missing; empty
// when the program has no icon or the file cannot be written. A file is
// written whole or not at all, so a crash leaves no half icon behind.
std::string CachedIconPath(platform::Machine& machine, app::DataFolder& data_folder,
                           const SoftwareInfo& program);

}  // namespace kv::service
