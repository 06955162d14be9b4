// kvdiag uninstall: the programs that the uninstall registry scan lists, as
// a table or as JSON, of this machine or of registry exports given with --reg.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "inventory/uninstall_scanner.h"
#include "text/format.h"
#include "text/utf8.h"
#include "tools/kvdiag/diag_machine.h"
#include "tools/kvdiag/json_out.h"
#include "tools/kvdiag/table_out.h"

namespace kv::diag {
namespace {

using inventory::UninstallEntry;

constexpr const char* kUsage = "uninstall [--json] [--reg FILE...]";

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }


void PrintJson(const std::vector<UninstallEntry>& entries) {
  Print("[");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const UninstallEntry& e = entries[i];
    const std::pair<const char*, const std::string*> fields[] = {
        {"Id", &e.Id},
        {"DisplayName", &e.DisplayName},
        {"DisplayVersion", &e.DisplayVersion},
        {"Publisher", &e.Publisher},
        {"InstallLocation", &e.InstallLocation},
        {"DisplayIcon", &e.DisplayIcon},
        {"IconGroup", &e.IconGroup},
        {"Contact", &e.Contact},
        {"HelpLink", &e.HelpLink},
        {"InstallDate", &e.InstallDate},
        {"InstallSource", &e.InstallSource},
        {"URLInfoAbout", &e.URLInfoAbout},
        {"URLUpdateInfo", &e.URLUpdateInfo},
        {"AppFolder", &e.AppFolder},
    };
    std::string o = i ? ",\n  {" : "\n  {";
    o += "\"Index\": " + std::to_string(i);
    for (const auto& [name, value] : fields)
      o += ", " + JsonQuote(name) + ": " + JsonQuote(*value);
    o += ", \"UninstallString\": {\"Path\": " + JsonQuote(e.UninstallString.Path) +
         ", \"Arguments\": " + JsonQuote(e.UninstallString.Arguments) + "}}";
    Print(o);
  }
  Print(entries.empty() ? "]\n" : "\n]\n");
}


void PrintTable(const std::vector<UninstallEntry>& entries) {
  std::vector<std::vector<std::string>> rows = {
      {"#", "Id", "DisplayName", "DisplayVersion", "Publisher", "Uninstaller", "AppFolder"}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const UninstallEntry& e = entries[i];
    rows.push_back({std::to_string(i), e.Id, e.DisplayName, e.DisplayVersion, e.Publisher,
                    e.UninstallString.Path, e.AppFolder});
  }
  PrintColumns(rows);
  Print(std::to_string(entries.size()) + " entries\n");
}

}  // namespace

int RunUninstall(const Args& in) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok()) return 1;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json")
      json = true;
    else
      return UsageError(kUsage);
  }
  if (dm.replayed()) dm.AddSystemPrograms();
  app::DataFolder folder(dm.machine());
  inventory::UninstallScanner scanner(dm.machine(), folder);
  scanner.Scan();
  if (json)
    PrintJson(scanner.entries());
  else
    PrintTable(scanner.entries());
  return 0;
}

}  // namespace kv::diag
