// kvdiag associations: the file types that the programs of the stored
// software list open, as the client scans them from the registry. Natively
// on a replayed machine (--reg) with the list from --data; under Wine and on
// Windows on the real registry and the client's data folder.
#include <cstdio>
#include <string>
#include <vector>

#include "inventory/association_scanner.h"
#include "tools/kvdiag/json_out.h"
#include "tools/kvdiag/stored_list.h"
#include "tools/kvdiag/table_out.h"

namespace kv::diag {
namespace {

constexpr const char* kAssociationsUsage = "associations [--json] [--data DIR] [--reg FILE...]";

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

std::string HandlerJson(const inventory::AssociationHandler& h, const std::string& program) {
  return "{\"Program\": " + JsonQuote(program) + ", \"Verb\": " + JsonQuote(h.Verb) +
         ", \"Default\": " + (h.IsDefault ? "true" : "false") +
         ", \"Description\": " + JsonQuote(h.Description) +
         ", \"Command\": " + JsonQuote(h.Command.Format()) + "}";
}

int Show(platform::Machine& machine, const service::SoftwareListStore& store, bool json) {
  std::vector<std::string> names, executables;
  for (std::size_t i = 0; i < store.Count(); ++i) {
    names.push_back(store.At(i)->Name);
    executables.push_back(store.At(i)->rti.cmdline.Path);
  }
  inventory::AssociationScanner scanner(machine, executables);
  scanner.Scan();

  if (json) {
    std::string o = "[";
    for (std::size_t e = 0; e < scanner.Count(); ++e) {
      const inventory::ExtensionEntry& entry = scanner.At(e);
      o += (e ? ",\n  " : "\n  ") + std::string("{\"Extension\": ") + JsonQuote(entry.Extension) +
           ", \"Handlers\": [";
      for (std::size_t i = 0; i < entry.Handlers.size(); ++i)
        o += (i ? ",\n    " : "\n    ") +
             HandlerJson(entry.Handlers[i], names[entry.Handlers[i].Program]);
      o += "]}";
    }
    Print(o + (scanner.Count() ? "\n]\n" : "]\n"));
    return 0;
  }
  Print(std::to_string(scanner.Count()) + " extensions opened by the software list's " +
        std::to_string(store.Count()) + " programs\n");
  for (const inventory::ExtensionEntry& entry : scanner.entries()) {
    Print("." + entry.Extension + "\n");
    TableRows rows = {{"Program", "Verb", "Default", "Description", "Command"}};
    for (const inventory::AssociationHandler& h : entry.Handlers)
      rows.push_back({names[h.Program], h.Verb, h.IsDefault ? "*" : "", h.Description,
                      h.Command.Format()});
    PrintColumns(rows, "  ");
  }
  return 0;
}

}  // namespace

int RunAssociations(const Args& args) {
  return WithStoredList(args, kAssociationsUsage, Show);
}

}  // namespace kv::diag
