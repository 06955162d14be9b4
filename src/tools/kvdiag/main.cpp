// kvdiag: runs the client's own code on demand, for support engineers and tests.
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "tools/kvdiag/commands.h"

namespace kv::diag {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"settings", "settings [--reg FILE...]", RunSettings},
      {"paths", "paths [--reg FILE...]", RunPaths},
      {"data", "data [--folder DIR]", RunData},
      {"version", "version format TEXT | version compare A B", RunVersion},
      {"name",
       "name clean MODE TEXT | name strip TEXT [VERSION] | name find-version TEXT [VERSION] | "
       "name similarity A B | name split-camel TEXT | name publisher-key TEXT",
       RunName},
      {"uninstall", "uninstall [--json] [--reg FILE...]", RunUninstall},
      {"fileinfo", "fileinfo PATH", RunFileInfo},
      {"split", "split TEXT", RunSplit},
      {"shortcut", "shortcut PATH", RunShortcut},
      {"inventory", "inventory [--json] [--reg FILE...] [--machine DESC.json]", RunInventory},
      {"softlist", "softlist [--json] [--data DIR] [--reg FILE...]", RunSoftlist},
      {"refresh",
       "refresh [--json] [--floor] [--data DIR] [--reg FILE...] [--machine DESC.json]",
       RunRefresh},
      {"account",
       "account [--json] [--data DIR] [--site URL] [--ca FILE] [guest | login EMAIL | register EMAIL NAME]",
       RunAccount},
      {"associations", "associations [--json] [--data DIR] [--reg FILE...]", RunAssociations},
      {"check", "check [--json] [--site URL] [--ca FILE] [--data DIR] [--reg FILE...] [--machine DESC.json]",
       RunCheck},
#ifdef _WIN32
      {"prepare-machine", "prepare-machine DESC.json [--reg FILE...]", RunPrepareMachine},
#endif
  };
  return commands;
}

int UsageError(const char* usage) {
  std::fprintf(stderr, "usage: kvdiag %s\n", usage);
  return 2;
}

}  // namespace kv::diag

int main(int argc, char** argv) {
  using namespace kv::diag;
  kv::platform::PrepareConsole();
  const Args all = kv::platform::Utf8Arguments(argc, argv);
  if (all.empty() || all[0] == "--help" || all[0] == "help") {
    FILE* out = all.empty() ? stderr : stdout;
    std::fprintf(out, "usage:\n");
    for (const auto& c : Commands()) std::fprintf(out, "  kvdiag %s\n", c.usage);
    return all.empty() ? 2 : 0;
  }
  for (const auto& c : Commands()) {
    if (all[0] == c.name) return c.run(Args(all.begin() + 1, all.end()));
  }
  std::fprintf(stderr, "kvdiag: unknown command '%s' (try kvdiag help)\n", all[0].c_str());
  return 2;
}
