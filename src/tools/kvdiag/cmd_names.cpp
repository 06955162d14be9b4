// kvdiag version ... and kvdiag name ...: the name and version analysis on
// texts from the command line, one line of output each, for scripts.
#include <cstdio>
#include <string>

#include "inventory/names.h"
#include "inventory/version.h"
#include "tools/kvdiag/commands.h"

namespace kv::diag {
namespace {

using namespace kv::inventory;

constexpr const char* kVersionUsage = "version format TEXT | version compare A B";
constexpr const char* kNameUsage =
    "name clean MODE TEXT | name strip TEXT [VERSION] | name find-version TEXT [VERSION] | "
    "name similarity A B | name split-camel TEXT | name publisher-key TEXT";

int PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

std::string VersionOrNone(const ProgramVersion& v) {
  return v.IsPresent() ? FormatVersion(v) : "(none)";
}

}  // namespace

int RunVersion(const Args& args) {
  if (args.size() == 2 && args[0] == "format") {
    ProgramVersion v;
    ParseVersion(args[1], v);
    return PrintLine(VersionOrNone(v));
  }
  if (args.size() == 3 && args[0] == "compare") {
    ProgramVersion a, b;
    ParseVersion(args[1], a);
    ParseVersion(args[2], b);
    return PrintLine(IsOlderVersion(a, b) ? "<" : IsOlderVersion(b, a) ? ">" : "=");
  }
  return UsageError(kVersionUsage);
}

int RunName(const Args& args) {
  if (args.empty()) return UsageError(kNameUsage);
  const std::string& cmd = args[0];
  const std::size_t n = args.size();

  if (cmd == "clean" && n == 3 && (args[1] == "0" || args[1] == "1")) {
    NameWords words = Tokenize(args[2]);
    CleanWords(words, args[1] == "0" ? CleanMode::kName : CleanMode::kMatch);
    return PrintLine(JoinWords(words.words));
  }
  if ((cmd == "strip" || cmd == "find-version") && (n == 2 || n == 3)) {
    ProgramVersion v;
    if (n == 3) ParseVersion(args[2], v);
    const NameWords words = Tokenize(args[1]);
    std::string first;
    if (cmd == "strip")
      first = StripVersionFromName(words, v);
    else
      first = FindVersionInName(words, v) ? "true" : "false";
    return PrintLine(first + '\t' + VersionOrNone(v));
  }
  if (cmd == "similarity" && n == 3) {
    return PrintLine(
        std::to_string(NameSimilarity(Tokenize(args[1]).words, Tokenize(args[2]).words)));
  }
  if ((cmd == "split-camel" || cmd == "publisher-key") && n == 2) {
    NameWords words = Tokenize(args[1]);
    if (cmd == "split-camel")
      SplitCamelCase(words);
    else
      PublisherKey(words);
    return PrintLine(JoinWords(words.words));
  }
  return UsageError(kNameUsage);
}

}  // namespace kv::diag
