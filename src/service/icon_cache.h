#pragma once
// The icon cache: "cache\icons\<id>.ico" in the data folder, one standard
// .ico file per program (named by its GlobalId, or its LocalId without one),
// holding every image of the icon group the icon search found. The icon
// upload packs these files; the software list draws from them.
#include <string>

#include "app/data_folder.h"
#include "platform/machine.h"
#include "service/software_info.h"

namespace kv::service {

// The cache file's path, whether or not it exists.
std::string IconCachePath(app::DataFolder& data_folder, const SoftwareInfo& program);

// The cache file, written from the program's icon source when missing; empty
// when the program has no icon or the file cannot be written. A file is
// written whole or not at all, so a crash leaves no half icon behind.
std::string CachedIconPath(platform::Machine& machine, app::DataFolder& data_folder,
                           const SoftwareInfo& program);

}  // namespace kv::service
