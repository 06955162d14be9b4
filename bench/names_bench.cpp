// Cleaning and comparing display names, as one inventory run does for every
// uninstall entry against its candidate shortcut names.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/names.h"
#include "inventory/version.h"

namespace {

using namespace kv::inventory;

constexpr int kNames = 10000;

struct NamePair {
  std::string display;   // as in the uninstall entry
  std::string shortcut;  // as in the Start menu
  std::string version;   // the entry's display version
};

// Deterministic, so runs compare: a small LCG picks the parts.
class Picker {
 public:
  std::uint32_t Next(std::uint32_t n) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % n;
  }
  template <std::size_t N>
  const char* From(const char* const (&list)[N]) {
    return list[Next(N)];
  }

 private:
  std::uint32_t state_ = 12345;
};

std::vector<NamePair> MakeNames() {
  static const char* const publishers[] = {"Acme", "Zentrix", "Northwind", "Contoso", "Fabrikam",
                                           "Tavrin", "Blue Lagoon", "Soft\xC3\xA9l", "Omega"};
  static const char* const products[] = {
      "Reader", "Media Player", "PhotoStudio", "WinZipper", "PDF Creator", "Office Suite",
      "Burner", "VPN Client", "ABCMessenger", "Toolbar", "Antivirus", "Video Converter",
      "FooRAR", "Runtime Environment", "Driver Package", "\xC3\x89" "diteur Pro"};
  static const char* const editions[] = {"", "", "", " Professional", " Standard Edition",
                                         " Home", " Pro", " Enterprise"};
  static const char* const tails[] = {"", "", "", " (remove only)", " (x64)", " - Trial Version",
                                      " Beta", " RC2", " [en-US]", "\xE2\x84\xA2", " (32-bit)"};
  Picker pick;
  std::vector<NamePair> out;
  out.reserve(kNames);
  for (int i = 0; i < kNames; ++i) {
    const std::string base = std::string(pick.From(publishers)) + ' ' + pick.From(products);
    std::string version = std::to_string(pick.Next(12));
    version.append(".").append(std::to_string(pick.Next(20)));
    if (pick.Next(2)) version.append(".").append(std::to_string(pick.Next(3000)));
    std::string display = base + pick.From(editions);
    switch (pick.Next(4)) {
      case 0: display.append(" ").append(version); break;
      case 1: display.append(" ").append(version, 0, version.find('.')); break;
      case 2: display.append(" build ").append(std::to_string(1000 + pick.Next(9000))); break;
      default: break;
    }
    display += pick.From(tails);
    std::string shortcut = pick.Next(3) ? base : std::string(pick.From(products));
    out.push_back({std::move(display), std::move(shortcut), version});
  }
  return out;
}

void BM_CleanAndCompare(benchmark::State& state) {
  const std::vector<NamePair> names = MakeNames();
  std::int64_t sum = 0;
  for (auto _ : state) {
    for (const NamePair& n : names) {
      // The record's clean name and version...
      ProgramNameWords display(n.display, CleanMode::kName);
      ProgramVersion version;
      ParseVersion(n.version, version);
      display.FindVersion(version);
      const std::string name = display.StripVersion(version);
      // ... and the likeness with its shortcut, as the matcher measures it.
      MatchNameWords entry(n.display, CleanMode::kMatch);
      entry.SplitCamelCase();
      ProgramNameWords shortcut(n.shortcut, CleanMode::kMatch);
      shortcut.SplitCamelCase();
      sum += NameSimilarity(entry.words, shortcut.words) + name.size();
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * names.size());
  state.counters["per_name"] = benchmark::Counter(
      static_cast<double>(state.iterations() * names.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CleanAndCompare)->Unit(benchmark::kMillisecond);

void BM_ParseAndOrderVersions(benchmark::State& state) {
  const std::vector<NamePair> names = MakeNames();
  int older = 0;
  for (auto _ : state) {
    ProgramVersion prev, cur;
    for (const NamePair& n : names) {
      ParseVersion(n.version, cur);
      older += IsOlderVersion(prev, cur);
      std::swap(prev, cur);
    }
  }
  benchmark::DoNotOptimize(older);
  state.SetItemsProcessed(state.iterations() * names.size());
}
BENCHMARK(BM_ParseAndOrderVersions)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
