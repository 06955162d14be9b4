#pragma once
// The inventory: which programs are installed, what each is really called,
// which version it has, who made it and which command runs it.
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "app/progress_tracker.h"
#include "inventory/command_line.h"
#include "inventory/shortcut_matcher.h"
#include "inventory/shortcuts_tree.h"
#include "inventory/uninstall_scanner.h"
#include "inventory/version.h"

namespace kv::inventory {

struct ProgramRecord {
  std::string Name;
  std::string ShortName;  // the shortcut's or product's own name after a prefix
  std::string Publisher;
  std::string ReleaseStatus;
  ProgramVersion Version;
  std::string IconFile;
  bool IconFileIsUninstaller = false;
  // Point into the inventory's own uninstall list and tree; valid until the next Run.
  const UninstallEntry* Entry = nullptr;
  const ShortcutNode* Shortcut = nullptr;
  CommandLine cmdline;

  // Only records with a version carry program information for the software list.
  bool HasProgramInfo() const { return Version.IsPresent(); }
};

// The client itself and the platform programs that every machine reports.
struct FixedProgram {
  std::string executable;  // full path
  const char* name;
  const char* publisher;
};

class Inventory {
 public:
  // `keys`: the uninstall-subkey records to share with other scanners.
  Inventory(platform::Machine& machine, app::DataFolder& data_folder,
            app::ProgressTracker& progress = app::ProgressTracker::instance(),
            UninstallKeyCache* keys = nullptr);

  // Scans everything again and replaces both lists.
  void Run();
  const std::vector<ProgramRecord>& Programs() const { return programs_; }
  const std::vector<ProgramRecord>& IgnoredPrograms() const { return ignored_; }

  const UninstallScanner& scanner() const { return scanner_; }
  const ShortcutsTree& tree() const { return tree_; }

  // The executables of the fixed programs on this machine, in order.
  std::vector<FixedProgram> FixedPrograms() const;

 private:
  void AddFixedPrograms();
  ProgramRecord BuildRecord(const UninstallEntry& entry, ShortcutNode* shortcut);
  // A cached Binary lacks the fixed product version, FileVersion and
  // SpecialBuild: read them back for the shortcuts that records use, so a run
  // from the cache equals a fresh one.
  void RestoreFixedVersion(ShortcutNode& node);

  platform::Machine& machine_;
  app::ProgressTracker& progress_;
  UninstallScanner scanner_;
  ShortcutsTree tree_;
  // Kept across runs: it remembers each node's analysis until its texts change.
  ShortcutMatcher matcher_{tree_.root()};
  std::vector<ProgramRecord> programs_;
  std::vector<ProgramRecord> ignored_;
};

}  // namespace kv::inventory
