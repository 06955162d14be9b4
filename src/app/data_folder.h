#pragma once
// Where the client keeps its files: the roaming application-data folder and
// the "Korvan" data folder inside it.
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace kv::app {

class ActivityLog;

// Creates every folder of `path` up to its last separator ("\" or "/"); what
// follows the last separator is not created. An existing folder is success.
bool CreateDirectoryChain(platform::FileSystem& files, std::string_view path);

class DataFolder {
 public:
  explicit DataFolder(platform::Machine& machine) : machine_(machine) {}

  // The roaming application-data folder with a trailing backslash.
  std::string GetAppDataFolder() const;
  // GetAppDataFolder() + "Korvan\", computed once for the life of the object.
  const std::string& GetDataFolder();
  // The older product's folder, GetAppDataFolder() + "Lumaro\".
  std::string GetOldProductFolder() const;
  // Full path of a data file; creates the folder chain and takes over a copy
  // of `name` from the working folder when the data folder has none.
  std::string GetDataFilePath(std::string_view name);

  platform::Machine& machine() { return machine_; }

  // Data files that exist but could not be read in this run: their stores
  // must not replace them until a later load reads them (names compared
  // without regard to case).
  void HoldFile(std::string_view name);
  void ReleaseFile(std::string_view name);
  bool IsHeld(std::string_view name) const;

  // Where problems with the data files are reported; none by default.
  void SetLog(ActivityLog* log) { log_ = log; }
  ActivityLog* log() const { return log_; }

 private:
  platform::Machine& machine_;
  std::once_flag once_;
  std::string folder_;
  mutable std::mutex held_mutex_;
  std::set<std::string> held_;  // upper-cased names
  ActivityLog* log_ = nullptr;
};

}  // namespace kv::app
