#include "app/data_folder.h"

#include "app/settings.h"
#include "text/chars.h"

namespace kv::app {

using platform::CreateDirResult;
using platform::SpecialFolder;

bool CreateDirectoryChain(platform::FileSystem& files, std::string_view path) {
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == ':') {
    start = 2;
    if (start < path.size() && (path[start] == '\\' || path[start] == '/')) ++start;
  } else if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    // \\server\share\ is the root: both names must be followed by a separator.
    std::size_t pos = 2;
    for (int names = 0; names < 2; ++names) {
      pos = path.find_first_of("\\/", pos);
      if (pos == std::string_view::npos) return false;  // the path is not found
      ++pos;
    }
    start = pos;
  }
  for (std::size_t i = start; i < path.size(); ++i) {
    if (path[i] != '\\' && path[i] != '/') continue;
    if (i == 0) continue;  // "\foo": the root of the current drive exists
    const CreateDirResult r = files.MakeDirectory(path.substr(0, i));
    if (r != CreateDirResult::Created && r != CreateDirResult::AlreadyExists) return false;
  }
  return true;
}

std::string DataFolder::GetAppDataFolder() const {
  if (auto roaming = machine_.shell.GetFolder(SpecialFolder::RoamingAppData);
      roaming && !roaming->empty()) {
    std::string out = *roaming;
    if (out.back() != '\\') out += '\\';
    return out;
  }
  std::string windows = machine_.shell.GetFolder(SpecialFolder::Windows).value_or("");
  if (windows.size() > 3) windows += '\\';
  return windows + "Application Data\\";
}

const std::string& DataFolder::GetDataFolder() {
  std::call_once(once_, [this] { folder_ = GetAppDataFolder() + kProductName + "\\"; });
  return folder_;
}

std::string DataFolder::GetOldProductFolder() const { return GetAppDataFolder() + "Lumaro\\"; }

std::string DataFolder::GetDataFilePath(std::string_view name) {
  std::string full = GetDataFolder() + std::string(name);
  auto& files = machine_.files;
  CreateDirectoryChain(files, full);
  if (full != name && files.Exists(name) && !files.Exists(full))
    files.Copy(name, full, /*fail_if_exists=*/true).IgnoreError();  // the store starts empty
  return full;
}

void DataFolder::HoldFile(std::string_view name) {
  std::lock_guard lock(held_mutex_);
  held_.insert(text::ToUpper(name));
}

void DataFolder::ReleaseFile(std::string_view name) {
  std::lock_guard lock(held_mutex_);
  held_.erase(text::ToUpper(name));
}

bool DataFolder::IsHeld(std::string_view name) const {
  std::lock_guard lock(held_mutex_);
  return held_.count(text::ToUpper(name)) > 0;
}

}  // namespace kv::app
