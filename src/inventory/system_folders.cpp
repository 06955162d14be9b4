#include "inventory/system_folders.h"

#include "platform/file_system.h"

namespace kv::inventory {

SystemFolders ReadSystemFolders(platform::Shell& shell) {
  const auto folder = [&](platform::SpecialFolder f) {
    return platform::WithTrailingBackslash(shell.GetFolder(f).value_or(""));
  };
  return {folder(platform::SpecialFolder::Windows), folder(platform::SpecialFolder::ProgramFiles),
          folder(platform::SpecialFolder::System)};
}

}  // namespace kv::inventory
