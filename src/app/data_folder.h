#pragma once
// Where the client keeps its files: the roaming application-data folder and
// the "Korvan" data folder inside it.
#include <mutex>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace kv::app {

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

 private:
  platform::Machine& machine_;
  std::once_flag once_;
  std::string folder_;
};

}  // namespace kv::app
