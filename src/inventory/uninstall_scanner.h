#pragma once
// The installed programs as the uninstall registry lists them, merged by
// display name and cached in "ukey.xml".
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "inventory/command_line.h"
#include "platform/machine.h"

namespace kv::inventory {

struct UninstallEntry {
  std::string Id;  // the subkey's name
  std::string DisplayName;
  std::string DisplayVersion;
  std::string Publisher;
  std::string InstallLocation;
  CommandLine UninstallString;
  std::string DisplayIcon;
  std::string IconGroup;  // "Inno Setup: Icon Group"
  std::string Contact;
  std::string HelpLink;
  std::string InstallDate;
  std::string InstallSource;
  std::string URLInfoAbout;
  std::string URLUpdateInfo;
  std::string AppFolder;  // the program's folder with a trailing backslash, or empty

  bool operator==(const UninstallEntry&) const = default;
};

class UninstallScanner {
 public:
  UninstallScanner(platform::Machine& machine, app::DataFolder& data_folder);

  // Refills the list from the registry; true when it is not empty.
  bool Scan();
  std::size_t Count() const { return entries_.size(); }
  // Throws std::out_of_range for a bad index.
  const UninstallEntry& At(std::size_t index) const;
  // Index of the first entry whose Id equals `id` exactly, or -1.
  int FindById(std::string_view id) const;
  // Reads "ukey.xml", only when the list is empty.
  void LoadCache();
  void SaveCache();
  // The change test: same count and, index by index, equal Id, DisplayName
  // and DisplayVersion.
  bool SameAs(const UninstallScanner& other) const;

  const std::vector<UninstallEntry>& entries() const { return entries_; }

 private:
  platform::Machine& machine_;
  app::DataFolder& data_folder_;
  std::vector<UninstallEntry> entries_;
};

}  // namespace kv::inventory
