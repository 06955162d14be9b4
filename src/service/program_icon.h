#pragma once
// Where a program's icon comes from: its IconFile ("path,index", the path
// perhaps quoted), then its main executable, then the uninstaller.
#include <memory>
#include <string>
#include <string_view>

#include "platform/shell.h"
#include "service/software_info.h"

namespace kv::service {

struct IconSource {
  std::string path;
  int index = 0;  // negative: a resource id
  bool operator==(const IconSource&) const = default;
};

// `icon_file` without its first pair of double quotes, and a trailing
// ",N" or ",-N" taken as the index (0 without one).
IconSource ParseIconSource(std::string_view icon_file);

struct ExtractedIcon {
  std::unique_ptr<platform::Icon> icon;  // null when none was found
  IconSource source;
};

// The icon search: the IconFile's icon unless it is the uninstaller's, else
// icon 0 of the command line's executable, else (for an uninstaller) the
// IconFile's icon as the last resort.
ExtractedIcon ExtractProgramIcon(platform::Shell& shell, const SoftwareInfo& program,
                                 platform::IconSize size);

}  // namespace kv::service
