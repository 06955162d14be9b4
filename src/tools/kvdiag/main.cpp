// kvdiag: runs the client's own code on demand, for support engineers and tests.
#include <cstdio>
#include <cstring>

#include "tools/kvdiag/commands.h"

namespace kv::diag {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"settings", "settings [--reg FILE...]", RunSettings},
      {"paths", "paths [--reg FILE...]", RunPaths},
      {"version", "version format TEXT | version compare A B", RunVersion},
      {"name",
       "name clean MODE TEXT | name strip TEXT [VERSION] | name find-version TEXT [VERSION] | "
       "name similarity A B | name split-camel TEXT | name publisher-key TEXT",
       RunName},
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
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help")) {
    std::fprintf(argc < 2 ? stderr : stdout, "usage:\n");
    for (const auto& c : Commands()) std::fprintf(argc < 2 ? stderr : stdout, "  kvdiag %s\n", c.usage);
    return argc < 2 ? 2 : 0;
  }
  for (const auto& c : Commands()) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(Args(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "kvdiag: unknown command '%s' (try kvdiag help)\n", argv[1]);
  return 2;
}
