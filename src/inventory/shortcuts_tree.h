#pragma once
// The merged picture of the user's and the all-users Start menu, desktop and
// quick-launch shortcuts: folders and shortcuts, each shortcut resolved to
// its target, sized, flagged when it is an uninstaller and carrying its
// target's version information. Cached in "shtree.xml" so that a shortcut
// whose file name and last-write time are unchanged is never resolved again;
// its target is only measured, and read again when it changed.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/data_folder.h"
#include "app/progress_tracker.h"
#include "inventory/command_line.h"
#include "inventory/file_version_info.h"
#include "inventory/uninstall_scanner.h"
#include "platform/machine.h"

namespace kv::inventory {

struct ShortcutNode {
  ShortcutNode* parent = nullptr;
  // Folder nodes only; new nodes are appended at the end.
  std::vector<std::unique_ptr<ShortcutNode>> children;
  std::string Name;  // folder name, or the shortcut file's name without ".lnk"
  bool IsFolder = false;
  bool Uninstaller = false;  // the target equals an uninstall entry's command
  CommandLine LinksTo;
  std::uint64_t FileSize = 0;  // of the target executable; 0 when not measured
  // The target executable's last-write time when Binary was read; with
  // FileSize it tells whether the target was replaced since. 0 when not measured.
  platform::FileTime TargetWriteTime = 0;
  // A shortcut: its file's last-write time. A folder: one per physical folder
  // merged into it, in scan order.
  std::vector<platform::FileTime> LastWriteTimes;
  std::unique_ptr<FileVersionInfo> Binary;
  // Binary was read from the cache file, which keeps the main strings but not
  // the fixed product version, FileVersion or SpecialBuild.
  bool BinaryFromCache = false;
  bool Unseen = false;  // from before the current scan, not found by it yet

  ShortcutNode() = default;
  ShortcutNode(const ShortcutNode&) = delete;
  ShortcutNode& operator=(const ShortcutNode&) = delete;

  // Takes `child` as the last child and returns it.
  ShortcutNode& Append(std::unique_ptr<ShortcutNode> child);
};

class ShortcutsTree {
 public:
  ShortcutsTree(platform::Machine& machine, app::DataFolder& data_folder,
                app::ProgressTracker& progress = app::ProgressTracker::instance());
  ShortcutsTree(const ShortcutsTree&) = delete;
  ShortcutsTree& operator=(const ShortcutsTree&) = delete;

  // Reads "shtree.xml" (or its ".bak"), only while the root has no children.
  void LoadCache();
  // Updates the tree from the Start menus, desktops and quick launch: what is
  // unchanged stays, what is new is resolved and appended, what is gone is
  // removed. `uninstall` supplies the commands for the Uninstaller flag.
  void Scan(const UninstallScanner& uninstall);
  // Writes the whole tree to "shtree.xml" through the ".bak" sequence.
  void SaveCache();
  // Reads the version information again for every shortcut whose target
  // executable changed size or last-write time since it was read (Scan does
  // this for the shortcuts it keeps).
  void RefreshFileInfo();

  const ShortcutNode& root() const { return root_; }
  // Matching may improve a node's product name in place.
  ShortcutNode& root() { return root_; }

  // Filled at the start of every scan.
  const std::string& AccessoriesName() const { return accessories_name_; }
  const std::string& GamesName() const { return games_name_; }
  const std::string& AdministrativeToolsName() const { return admin_tools_name_; }
  const std::vector<std::string>& KnownSystemPrograms() const { return known_system_programs_; }
  const std::vector<std::string>& InstallerFileNames() const { return installer_file_names_; }

 private:
  // A shortcut file that gave no node because its target is Windows's own or
  // an installer; remembered so that it is not resolved again while unchanged.
  // By the link file's own path: two folders merged into one node may hold
  // different files of the same name and time.
  struct DroppedKey {
    std::string link_path;
    platform::FileTime last_write;
  };
  struct DroppedLess {
    bool operator()(const DroppedKey& a, const DroppedKey& b) const;
  };
  struct CommandLess {
    bool operator()(const std::pair<std::string, std::string>& a,
                    const std::pair<std::string, std::string>& b) const;
  };

  void ReadFolderNames();
  void FillTables();
  void ScanSpecialFolder(platform::SpecialFolder folder, bool recursion);
  void ScanFolder(const std::string& folder, ShortcutNode& node, bool recursion, bool merging);
  bool IsSkippedTopFolder(std::string_view name) const;
  // Resolves a new shortcut into `node`; false when it is to be dropped.
  bool ResolveNew(const std::string& link_path, ShortcutNode& node);
  bool IsDroppedTarget(std::string_view path) const;
  // Measures the target of `node` and, when it differs from what the node
  // remembers, reads its version information again.
  void RefreshTarget(ShortcutNode& node);
  // Size, time and version information of the executable `node` points at.
  void ReadTarget(ShortcutNode& node);
  // The notepad rule and the " Application" rule on a freshly read Binary.
  void ApplyProductRules(ShortcutNode& node);
  const std::string& NotepadProductName();

  platform::Machine& machine_;
  app::DataFolder& data_folder_;
  app::ProgressTracker& progress_;
  ShortcutNode root_;

  std::string accessories_name_;
  std::string games_name_;
  std::string admin_tools_name_;
  std::vector<std::string> known_system_programs_;
  std::vector<std::string> installer_file_names_;
  std::optional<std::string> notepad_product_name_;  // read once per tree

  // Valid during a scan: the uninstall commands as (path, arguments).
  std::set<std::pair<std::string, std::string>, CommandLess> uninstall_commands_;
  // Dropped shortcut files, each with whether the current scan found it.
  std::map<DroppedKey, bool, DroppedLess> dropped_;
};

}  // namespace kv::inventory
