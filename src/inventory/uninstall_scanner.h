#pragma once
// The installed programs as the uninstall registry lists them, merged by
// display name and cached in "ukey.xml".
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/data_folder.h"
#include "inventory/command_line.h"
#include "inventory/system_folders.h"
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

// The key below HKLM (both WOW64 views) and HKCU that lists the programs.
inline constexpr std::string_view kUninstallKeyPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class UninstallKeyCache;
class UninstallKeyScan;

class UninstallScanner {
 public:
  // Whether LoadCache and SaveCache use "ukey.xml"; the short-lived
  // scanners (the inventory's own, the change test's) are not cached.
  enum class Caching { Off, InDataFolder };

  // Reads the system-folders table. Scans reuse what `keys` holds for
  // unchanged subkeys; without it the scanner keeps its own.
  UninstallScanner(platform::Machine& machine, app::DataFolder& data_folder,
                   Caching caching = Caching::Off, UninstallKeyCache* keys = nullptr);
  ~UninstallScanner();

  // Refills the list from the registry: HKLM's 64-bit view, HKLM's 32-bit
  // view, then HKCU, merged by display name; true when it is not empty.
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
  const SystemFolders& system_folders() const { return folders_; }

  // The program's folder told by its uninstaller's path: the uninstaller's
  // folder when it exists, is outside the Windows folder and no folder of
  // its chain is hidden; otherwise empty.
  std::string AppFolderFromUninstaller(std::string_view uninstaller_path) const;

 private:
  void ScanKey(platform::RootKey root, platform::RegView view, UninstallKeyScan& scan);
  // The entry one subkey gives, derived through `machine`; none when the
  // subkey lists no program.
  std::optional<UninstallEntry> ReadEntry(platform::Machine& machine, platform::RegistryKey& key,
                                          const std::string& id) const;
  void Add(UninstallEntry entry);
  void IndexIds();

  platform::Machine& machine_;
  app::DataFolder& data_folder_;
  Caching caching_;
  SystemFolders folders_;
  std::vector<UninstallEntry> entries_;
  // Folded DisplayName to entry while scanning; Id to its first entry.
  std::unordered_map<std::u32string, std::size_t> by_name_;
  std::unordered_map<std::string, int> by_id_;
  std::unique_ptr<UninstallKeyCache> own_keys_;
  UninstallKeyCache* keys_;
};

}  // namespace kv::inventory
