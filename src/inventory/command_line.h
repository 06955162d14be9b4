#pragma once
// An executable's path and its arguments, split from the messy command lines
// that installers leave in the registry and in shortcuts.
#include <optional>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace kv::inventory {

struct CommandLine {
  std::string Path;
  std::string Arguments;

  // Sets Path and Arguments from `text`: expands environment strings, takes a
  // quoted path, or finds the longest existing prefix of an unquoted one, or
  // the program on the search path. `long_path` asks for the long form.
  void Split(platform::Machine& machine, std::string_view text, bool long_path);

  // "\"Path\" Arguments", or Path alone without arguments; "" without a path.
  std::string Format() const;
  // Format(), but a path holding a blank is quoted even without arguments:
  // Split would otherwise stop at the first blank-separated prefix that
  // exists as a file. The caches store this form.
  std::string FormatForSplit() const;
  bool IsEmpty() const { return Path.empty(); }
  // The part after the last backslash (or "/"); nullopt when there is none.
  std::optional<std::string> FileName() const;
  bool IsExe() const;

  bool operator==(const CommandLine&) const = default;
};

// The target of a .lnk file: installer-advertised shortcuts first, then
// ordinary shell links. False when no path comes out.
bool ResolveShortcut(platform::Machine& machine, std::string_view link_path, CommandLine& out);

}  // namespace kv::inventory
