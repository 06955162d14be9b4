#pragma once
// Which file types the known programs open: the extension keys of the
// registry (per user, then machine-wide), their program identifiers, their
// open-with lists and the registered application paths, followed to the
// shell commands, keeping only commands whose executable is one of the
// known executables the scanner was given. Keys and values that cannot be
// read are skipped; one unreadable extension does not end the scan.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "inventory/command_line.h"
#include "platform/machine.h"

namespace kv::inventory {

struct AssociationHandler {
  bool IsDefault = false;   // the default verb of the extension's default program identifier
  std::string Verb;         // the key name under "shell"; "open" for application paths
  std::string Description;  // the identifier's (or application's) default value
  CommandLine Command;      // split with the long-path step
  std::size_t Program = 0;  // index into the scanner's known executables

  bool operator==(const AssociationHandler&) const = default;
};

struct ExtensionEntry {
  std::string Extension;  // without the dot, in the registry key's letter case
  std::vector<AssociationHandler> Handlers;
};

// (application name, command): "App Paths" under HKEY_LOCAL_MACHINE, then
// "Applications" under HKEY_CLASSES_ROOT.
using AppPathsTable = std::vector<std::pair<std::string, CommandLine>>;

class AssociationScanner {
 public:
  // `known_executables`: the executable path of each known program, in the
  // software list's order (empty for a program without one). A handler's
  // Program is the first index whose path equals its command's path
  // without regard to case.
  AssociationScanner(platform::Machine& machine, std::vector<std::string> known_executables);

  // Empties the result and scans again; the application paths are read on
  // the first scan only.
  void Scan();
  std::size_t Count() const { return entries_.size(); }
  const ExtensionEntry& At(std::size_t index) const { return entries_.at(index); }
  const std::vector<ExtensionEntry>& entries() const { return entries_; }
  const AppPathsTable& app_paths() const { return app_paths_; }
  // The first application-paths pair named `name` (without regard to case), or -1.
  int LookupAppPath(std::string_view name) const;

 private:
  void ReadAppPaths();
  // The extension keys below `classes` ("Software\Classes" or the root itself).
  void ScanRoot(platform::RootKey root, std::string_view classes);
  void ScanExtension(platform::RootKey root, std::string_view classes, const std::string& name);
  // Appends the known-program handlers of a program identifier's or an
  // application's key (`key`, opened at `path`); true when any of its
  // commands named a path.
  bool CollectHandlers(platform::RootKey root, const std::string& path, platform::RegistryKey& key,
                       bool is_default, std::vector<AssociationHandler>& out);
  // The index of the known executable `command` runs, or -1.
  int Match(const CommandLine& command) const;
  void Add(const std::string& extension, std::vector<AssociationHandler> handlers);

  platform::Machine& machine_;
  std::vector<std::string> known_;
  std::unordered_map<std::u32string, std::size_t> known_index_;  // folded path -> first index
  std::vector<ExtensionEntry> entries_;
  std::unordered_map<std::u32string, std::size_t> entry_index_;  // folded extension -> entry
  AppPathsTable app_paths_;
};

}  // namespace kv::inventory
