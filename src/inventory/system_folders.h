#pragma once
// The Windows, Program Files and system folders, each with a trailing
// backslash, as the inventory compares paths against them.
#include <string>

#include "platform/shell.h"

namespace kv::inventory {

struct SystemFolders {
  std::string windows;
  std::string program_files;
  std::string system;
};

// Read from the shell; a folder the shell cannot give stays empty.
SystemFolders ReadSystemFolders(platform::Shell& shell);

}  // namespace kv::inventory
