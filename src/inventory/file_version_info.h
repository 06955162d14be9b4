#pragma once
// The standard strings and the fixed product version of an executable's
// version resource.
#include <string>
#include <string_view>

#include "inventory/version.h"
#include "platform/shell.h"

namespace kv::inventory {

struct FileVersionInfo {
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyright;
  std::string OriginalFilename;
  std::string ProductName;
  std::string ProductVersion;  // normalised: "," -> ".", no blanks after "."
  std::string SpecialBuild;
  ProgramVersion FixedProductVersion;

  FileVersionInfo() = default;
  FileVersionInfo(platform::Shell& shell, std::string_view path) { Read(shell, path); }

  // Clears every field and reads the resource of `path`; false when it has
  // none, or neither a fixed block nor a string table.
  bool Read(platform::Shell& shell, std::string_view path);
  // The same rules on a raw VS_VERSIONINFO block.
  bool ReadBlock(std::string_view block);
  void Clear() { *this = FileVersionInfo(); }
};

// The running executable's information, read once.
const FileVersionInfo& OwnFileVersionInfo(platform::Shell& shell);

}  // namespace kv::inventory
