#pragma once
// A machine described in a small JSON file: executables (with version
// resources) and shortcuts, at paths that may start with special-folder
// placeholders ("{Programs}\\Acme\\Acme.lnk"). The same description is
// applied to a fake machine for a native replay and written into a real
// Wine prefix by kvdiag prepare-machine, so both show the same programs.
//
//   {"folders": ["{ProgramFiles}\\Empty"],
//    "executables": [{"path": "...", "size": 40960, "content": "text",
//                     "version": {"product": "3.1.0.0", "file": "3.1.4.1",
//                                 "table": "040904b0",
//                                 "strings": [["ProductName", "Acme"], ...]},
//                     "icons": [[16, 32, 48], [32]]}],
//    "shortcuts": [{"link": "...lnk", "target": "...", "arguments": "",
//                   "last_write": "2025-03-01T10:00:00Z" or a FILETIME number}]}
//
// An executable without "content" is a PE image, with a VERSIONINFO when it
// has "version" and one icon group per list of image sizes in "icons" (ids
// 1, 2, ... in order); "size" pads it with zeros.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/fake/version_block_builder.h"
#include "platform/file_time.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace kv::platform {

class FakeFileSystem;
class FakeShell;

struct DescribedExecutable {
  std::string path;
  std::optional<std::string> content;  // raw bytes instead of a PE image
  std::uint64_t size = 0;              // pad to this many bytes
  std::optional<VersionSpec> version;
  std::vector<std::vector<int>> icons;  // image sizes, one list per group
};

struct DescribedShortcut {
  std::string link;
  std::string target;
  std::string arguments;
  std::optional<FileTime> last_write;
};

struct MachineDescription {
  std::vector<std::string> folders;
  std::vector<DescribedExecutable> executables;
  std::vector<DescribedShortcut> shortcuts;
};

struct DescriptionResult {
  bool ok = false;
  std::string error;  // what is wrong and where, when not ok
  MachineDescription description;
};

// Strict: unknown keys, wrong types and malformed JSON are errors.
DescriptionResult ParseMachineDescription(std::string_view json);

// Replaces every known placeholder ("{Programs}", "{CommonPrograms}",
// "{StartMenu}", "{CommonStartMenu}", "{Desktop}", "{CommonDesktop}",
// "{AppData}", "{LocalAppData}", "{ProgramFiles}", "{ProgramFilesX86}",
// "{Windows}", "{System}") by the shell's folder; other braces (GUIDs) stay.
std::string ExpandFolderPlaceholders(std::string_view text, Shell& shell);

// The bytes of the described file.
std::string ExecutableImage(const DescribedExecutable& exe);

// Writes the described folders, files and shortcuts into a fake machine,
// with placeholders expanded by its shell.
void ApplyToFakeMachine(const MachineDescription& description, FakeFileSystem& files,
                        FakeShell& shell);

// Copies every key and value below HKLM, HKCU and HKCR of `from` into `to`,
// string values with their placeholders expanded; `from` may be `to`.
// Returns the number of values written, or the first key or value that
// could not be written and why.
Result<int> CopyRegistryExpanded(Registry& from, Registry& to, Shell& shell);

}  // namespace kv::platform
