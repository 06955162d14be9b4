#pragma once
// The release-status word of a program ("Release", "Beta", "RC2" ...), from
// the texts of its uninstall entry and of its executable's version resource.
#include <string>

#include "inventory/version.h"

namespace kv::inventory {

// The texts the decision reads; empty means absent. The program record
// fills this from its uninstall entry and version information.
struct ReleaseStatusInput {
  std::string display_name;     // uninstall entry; empty without an entry
  std::string display_version;  // uninstall entry
  std::string file_description;
  std::string product_version;  // version-resource strings, unparsed
  std::string internal_name;
  std::string product_name;
  std::string file_version;
  std::string special_build;
  ProgramVersion version;  // the record's version
};

// "PreRelease", "Alpha", "Alpha N", "Beta", "Beta N", "RC", "RC1".."RC6" or
// "Release".
std::string DetermineReleaseStatus(const ReleaseStatusInput& in);

}  // namespace kv::inventory
