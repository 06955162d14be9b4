// kvdiag inventory: the programs and the ignored programs the inventory
// finds, as a table or as JSON. On Windows it looks at this machine (and
// updates the client's shortcuts cache there, as the client would); with
// --reg it replays registry exports on a fake machine, and --machine adds the
// shortcuts and executables of a machine description to that machine.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "inventory/inventory.h"
#include "tools/kvdiag/commands.h"
#include "tools/kvdiag/diag_machine.h"
#include "text/utf8.h"
#include "tools/kvdiag/json_out.h"
#include "tools/kvdiag/table_out.h"

namespace kv::diag {
namespace {

using inventory::ProgramRecord;

constexpr const char* kUsage = "inventory [--json] [--reg FILE...] [--machine DESC.json]";

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

std::string RecordJson(const ProgramRecord& r) {
  std::string o = "{\"Name\": " + JsonQuote(r.Name);
  o += ", \"ShortName\": " + JsonQuote(r.ShortName);
  o += ", \"Version\": " + JsonQuote(inventory::FormatVersion(r.Version));
  o += ", \"ReleaseStatus\": " + JsonQuote(r.ReleaseStatus);
  o += ", \"Publisher\": " + JsonQuote(r.Publisher);
  o += ", \"IconFile\": " + JsonQuote(r.IconFile);
  o += std::string(", \"IconFileIsUninstaller\": ") + (r.IconFileIsUninstaller ? "true" : "false");
  o += ", \"Entry\": " + (r.Entry ? JsonQuote(r.Entry->Id) : std::string("null"));
  o += ", \"Shortcut\": " + (r.Shortcut ? JsonQuote(r.Shortcut->Name) : std::string("null"));
  o += ", \"cmdline\": {\"Path\": " + JsonQuote(r.cmdline.Path) +
       ", \"Arguments\": " + JsonQuote(r.cmdline.Arguments) + "}}";
  return o;
}

// One record a line, so that a difference shows as one changed line.
void PrintJson(const inventory::Inventory& inv) {
  auto list = [](const std::vector<ProgramRecord>& records) {
    std::string o = "[";
    for (std::size_t i = 0; i < records.size(); ++i)
      o += (i ? ",\n    " : "\n    ") + RecordJson(records[i]);
    return o + (records.empty() ? "]" : "\n  ]");
  };
  Print("{\n  \"programs\": " + list(inv.Programs()) + ",\n  \"ignored\": " +
        list(inv.IgnoredPrograms()) + "\n}\n");
}


void PrintTable(const char* title, const std::vector<ProgramRecord>& records) {
  std::vector<std::vector<std::string>> rows = {
      {"Name", "ShortName", "Version", "Status", "Publisher", "Shortcut", "Command line"}};
  for (const auto& r : records)
    rows.push_back({r.Name, r.ShortName, inventory::FormatVersion(r.Version), r.ReleaseStatus,
                    r.Publisher, r.Shortcut ? r.Shortcut->Name : "", r.cmdline.Format()});
  Print(std::string(title) + " (" + std::to_string(records.size()) + ")\n");
  PrintColumns(rows, "  ");
}

}  // namespace

int RunInventory(const Args& in) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok()) return 1;
  if (!dm.ApplyMachineOption(args)) return 1;
  bool json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") json = true;
    else return UsageError(kUsage);
  }
  platform::Machine& m = dm.machine();
  app::DataFolder folder(m);
  inventory::Inventory inv(m, folder);
  inv.Run();
  if (json) {
    PrintJson(inv);
  } else {
    PrintTable("Programs", inv.Programs());
    PrintTable("Ignored programs", inv.IgnoredPrograms());
  }
  return 0;
}

}  // namespace kv::diag
