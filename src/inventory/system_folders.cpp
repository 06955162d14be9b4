#include "inventory/system_folders.h"

namespace kv::inventory {
namespace {

std::string WithBackslash(std::optional<std::string> folder) {
  if (!folder || folder->empty()) return {};
  if (folder->back() != '\\') *folder += '\\';
  return *folder;
}

}  // namespace

SystemFolders ReadSystemFolders(platform::Shell& shell) {
  return {WithBackslash(shell.GetFolder(platform::SpecialFolder::Windows)),
          WithBackslash(shell.GetFolder(platform::SpecialFolder::ProgramFiles)),
          WithBackslash(shell.GetFolder(platform::SpecialFolder::System))};
}

}  // namespace kv::inventory
