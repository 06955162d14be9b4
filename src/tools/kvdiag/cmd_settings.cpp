#include <cstdio>

#include "app/activity_log.h"
#include "app/data_folder.h"
#include "app/settings.h"
#include "tools/kvdiag/diag_machine.h"

namespace kv::diag {

int RunSettings(const Args& in) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok()) return 1;
  if (!args.empty()) return UsageError("settings [--reg FILE...]");
  app::Settings settings(dm.machine().registry);
  std::printf("%-50s %-22s %s\n", "setting", "value", "source");
  for (const auto& info : app::AllSettings()) {
    const std::string name = std::string(*info.section ? info.section : "(application key)") +
                             "\\" + info.name;
    const auto stored = settings.StoredText(info);
    std::printf("%-50s %-22s %s\n", name.c_str(),
                stored ? stored->c_str() : (*info.default_text ? info.default_text : "(empty)"),
                stored ? "stored" : "default");
  }
  return 0;
}

int RunPaths(const Args& in) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok()) return 1;
  if (!args.empty()) return UsageError("paths [--reg FILE...]");
  app::DataFolder folder(dm.machine());
  // The client's log, not kvdiag's own: the client is korvapp.exe.
  app::ActivityLog log(dm.machine());
  log.Open(folder.GetDataFolder() + "korvapp.exe.PUL", false, "");
  std::printf("application data folder  %s\n", folder.GetAppDataFolder().c_str());
  std::printf("data folder              %s\n", folder.GetDataFolder().c_str());
  std::printf("old product folder       %s\n", folder.GetOldProductFolder().c_str());
  std::printf("activity log             %s\n", log.Path().c_str());
  return 0;
}

}  // namespace kv::diag
