#pragma once
// kvdiag command groups. Each group lives in its own cmd_*.cpp file and gets
// the arguments after its name; it prints to stdout and returns the exit code.
#include <string>
#include <vector>

#include "service/user_account.h"

namespace kv::diag {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* usage;
  int (*run)(const Args& args);
};

// The table of all groups, defined in main.cpp.
const std::vector<Command>& Commands();

int RunSettings(const Args& args);  // cmd_settings.cpp
int RunPaths(const Args& args);     // cmd_settings.cpp
int RunData(const Args& args);      // cmd_data.cpp
int RunVersion(const Args& args);   // cmd_names.cpp
int RunName(const Args& args);      // cmd_names.cpp
int RunUninstall(const Args& args);  // cmd_uninstall.cpp
int RunFileInfo(const Args& args);  // cmd_files.cpp
int RunSplit(const Args& args);     // cmd_files.cpp
int RunShortcut(const Args& args);  // cmd_files.cpp
int RunInventory(const Args& args);  // cmd_inventory.cpp
int RunSoftlist(const Args& args);   // cmd_softlist.cpp
int RunRefresh(const Args& args);    // cmd_softlist.cpp
int RunAccount(const Args& args);    // cmd_account.cpp
int RunAssociations(const Args& args);  // cmd_associations.cpp
int RunCheck(const Args& args);         // cmd_check.cpp
int RunPrepareMachine(const Args& args);  // cmd_prepare_win.cpp (Windows only)

// "ready", "sign-in failed", ... (cmd_account.cpp).
const char* AccountStateName(service::AccountState state);

// Exit code 2 with a usage line on stderr.
int UsageError(const char* usage);

}  // namespace kv::diag
