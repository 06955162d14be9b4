// The whole inventory on a fake machine with 1,000 uninstall entries (both
// HKLM views and HKCU) and 3,000 shortcuts in nested folders of the user's
// and all users' Programs folders and the desktops, every program executable
// carrying a version resource: a first inventory with no shortcuts cache, a
// second one in the same process when nothing changed, and one in a new
// process that starts from the cache file. Then the software list's refresh
// of that machine: unchanged (in the same process and in a new one that
// loads its files), and after one uninstall value changed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "app/progress_tracker.h"
#include "inventory/inventory.h"
#include "inventory/shortcuts_tree_cache.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "service/software_list_store.h"

namespace {

using namespace kv;
using platform::RegValue;
using platform::RegView;
using platform::RootKey;
using platform::SpecialFolder;

constexpr int kVendors = 100;
constexpr int kProductsPerVendor = 10;  // 1,000 programs, three shortcuts each

// Distinct, word-like names so that the matcher compares real words.
std::string Word(int n) {
  static const char* const kSyllables[] = {"ka", "lo", "mi", "ra", "ven", "tor", "sil", "qua",
                                           "bel", "dro", "nix", "pel", "zan", "fi", "gor", "ul"};
  std::string w;
  for (int i = 0; i < 3; ++i, n /= 16) w += kSyllables[n % 16];
  w[0] = static_cast<char>(w[0] - 'a' + 'A');
  return w;
}

std::string Image(const std::string& company, const std::string& product,
                  const std::string& version) {
  platform::VersionSpec layout;
  layout.product[0] = 3;
  layout.product[1] = 1;
  layout.tables = {{"040904b0",
                  {{"CompanyName", company},
                   {"FileDescription", product},
                   {"ProductName", product},
                   {"ProductVersion", version}}}};
  const std::string block = platform::BuildVersionBlock(layout);
  return platform::BuildPeImage(&block);
}

struct World {
  platform::FakeMachine fake;
  platform::Machine& machine = fake.machine;
  app::ProgressRange range;
  app::ProgressTracker progress{range};
  int shortcuts = 0;

  World() {
    const std::string uninstall = std::string(inventory::kUninstallKeyPath) + "\\";
    const std::string programs = *fake.shell.GetFolder(SpecialFolder::Programs) + "\\";
    const std::string common = *fake.shell.GetFolder(SpecialFolder::CommonPrograms) + "\\";
    const std::string desktop = *fake.shell.GetFolder(SpecialFolder::Desktop) + "\\";
    for (int v = 0; v < kVendors; ++v) {
      const std::string vendor = Word(v * 7 + 1) + " " + Word(v * 13 + 5) + " Software";
      for (int p = 0; p < kProductsPerVendor; ++p) {
        const int i = v * kProductsPerVendor + p;
        const std::string product = Word(i * 31 + 3) + " " + Word(i * 17 + 11);
        const std::string version = std::to_string(1 + i % 9) + "." + std::to_string(i % 5);
        const std::string folder = "C:\\Program Files\\" + vendor + "\\" + product + "\\";
        const std::string exe = folder + Word(i) + ".exe";
        const std::string uninstaller = folder + "remove.exe";
        fake.files.AddFile(exe, Image(vendor, product, version + ".0.0"));
        fake.files.AddFile(uninstaller, "MZ");
        fake.files.AddFile(folder + "help.exe", Image(vendor, product + " Help", version));

        // Keys in the three places installers use, with the values they leave.
        const RootKey root = i % 10 == 9 ? RootKey::CurrentUser : RootKey::LocalMachine;
        const RegView view = i % 10 < 6 ? RegView::View64 : RegView::View32;
        const std::string key = uninstall + "{" + std::to_string(100000 + i) + "-" + Word(i) + "}";
        auto w = [&](const char* name, std::string value) {
          fake.registry.Write(root, key, name, RegValue::String(std::move(value)), view);
        };
        w("DisplayName", i % 4 == 0 ? product + " " + version : product);
        w("DisplayVersion", version);
        w("Publisher", vendor);
        w("UninstallString", "\"" + uninstaller + "\" /x");
        w("DisplayIcon", exe + ",0");
        w("InstallLocation", folder);
        w("HelpLink", "https://example.com/" + Word(i));
        w("URLInfoAbout", "https://example.com/" + Word(i) + "/about");
        w("InstallDate", "20250301");
        w("Contact", "support@example.com");
        fake.registry.Write(root, key, "EstimatedSize", RegValue::Dword(40000), view);

        // Three shortcuts: the program, its help and its uninstaller (or,
        // for every fifth program, a desktop shortcut instead).
        const std::string menu = (i % 2 ? common : programs) + vendor + "\\" + product + "\\";
        fake.shell.AddShortcut(menu + product + ".lnk", exe);
        fake.shell.AddShortcut(menu + product + " Help.lnk", folder + "help.exe", "/topic 1");
        if (i % 5 == 0) fake.shell.AddShortcut(desktop + product + ".lnk", exe, "--desktop");
        else fake.shell.AddShortcut(menu + "Uninstall " + product + ".lnk", uninstaller, "/x");
        shortcuts += 3;
      }
    }
    // The machine was set up a while ago: its times are settled.
    fake.clock.Advance(60ull * 10'000'000);
  }

  void DeleteCache() {
    app::DataFolder data(machine);
    const std::string file = data.GetDataFilePath(inventory::kShortcutsTreeFile);
    fake.files.Delete(file);
    fake.files.Delete(file + ".bak");
  }
};

World& TheWorld() {
  static World* world = new World();
  return *world;
}

// No cache file: every shortcut is resolved and every target read.
void BM_FullInventory(benchmark::State& state) {
  World& w = TheWorld();
  std::size_t programs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    w.DeleteCache();
    app::DataFolder data(w.machine);
    auto inv = std::make_unique<inventory::Inventory>(w.machine, data, w.progress);
    state.ResumeTiming();
    inv->Run();
    programs = inv->Programs().size();
    state.PauseTiming();
    inv.reset();
    state.ResumeTiming();
  }
  state.counters["programs"] = static_cast<double>(programs);
  state.counters["shortcuts"] = w.shortcuts;
}

// The same inventory object again, nothing changed: the tree in memory is
// reused, no shortcut is resolved and no target is read again.
void BM_UnchangedInventory(benchmark::State& state) {
  World& w = TheWorld();
  w.DeleteCache();
  app::DataFolder data(w.machine);
  inventory::Inventory inv(w.machine, data, w.progress);
  inv.Run();
  for (auto _ : state) inv.Run();
  state.counters["programs"] = static_cast<double>(inv.Programs().size());
}

// A new process on an unchanged machine: the tree comes from "shtree.xml".
void BM_InventoryFromCacheFile(benchmark::State& state) {
  World& w = TheWorld();
  w.DeleteCache();
  {
    app::DataFolder data(w.machine);
    inventory::Inventory(w.machine, data, w.progress).Run();
  }
  for (auto _ : state) {
    state.PauseTiming();
    app::DataFolder data(w.machine);
    auto inv = std::make_unique<inventory::Inventory>(w.machine, data, w.progress);
    state.ResumeTiming();
    inv->Run();
    state.PauseTiming();
    inv.reset();
    state.ResumeTiming();
  }
}

// Both runs timed side by side, so that the ratio comes out as one figure.
void BM_FullOverUnchanged(benchmark::State& state) {
  World& w = TheWorld();
  using Clock = std::chrono::steady_clock;
  double full = 0, unchanged = 0;
  for (auto _ : state) {
    w.DeleteCache();
    app::DataFolder data(w.machine);
    inventory::Inventory inv(w.machine, data, w.progress);
    const auto t0 = Clock::now();
    inv.Run();
    const auto t1 = Clock::now();
    inv.Run();
    const auto t2 = Clock::now();
    full += std::chrono::duration<double, std::milli>(t1 - t0).count();
    unchanged += std::chrono::duration<double, std::milli>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["full_ms"] = full / n;
  state.counters["unchanged_ms"] = unchanged / n;
  state.counters["ratio"] = unchanged > 0 ? full / unchanged : 0;
}

// The list filled and its files written, as after the first start.
void FillSoftwareList(World& w) {
  app::DataFolder data(w.machine);
  service::SoftwareListStore store(w.machine, data, w.progress);
  store.Refresh();
  store.Refresh();  // records made by the merge's scans are all trusted now
}

// Nothing changed, the store kept in memory: the executables' times and the
// uninstall subkeys' times are all a refresh looks at.
void BM_RefreshUnchanged(benchmark::State& state) {
  World& w = TheWorld();
  FillSoftwareList(w);
  app::DataFolder data(w.machine);
  service::SoftwareListStore store(w.machine, data, w.progress);
  store.Refresh();
  std::size_t reused = 0;
  for (auto _ : state) {
    store.Refresh();
    if (store.last_changes().merged) state.SkipWithError("merged");
    reused = store.key_cache().reused();
  }
  state.counters["programs"] = static_cast<double>(store.Count());
  state.counters["subkeys_reused"] = static_cast<double>(reused);
}

// Nothing changed, a new process: "softList.xml", "ukey.xml" and
// "ukeyscan.xml" are loaded first, as at every start of the client.
void BM_RefreshUnchangedNewProcess(benchmark::State& state) {
  World& w = TheWorld();
  FillSoftwareList(w);
  for (auto _ : state) {
    state.PauseTiming();
    auto data = std::make_unique<app::DataFolder>(w.machine);
    auto store = std::make_unique<service::SoftwareListStore>(w.machine, *data, w.progress);
    state.ResumeTiming();
    store->Refresh();
    if (store->last_changes().merged || store->key_cache().read() != 0) {
      state.SkipWithError("not an unchanged refresh");
      break;
    }
    state.PauseTiming();
    store.reset();
    data.reset();
    state.ResumeTiming();
  }
}

// One uninstall value changed since the last refresh: the change test reads
// that subkey, the merge reuses every record and the shortcuts tree.
void BM_RefreshAfterOneValueChanged(benchmark::State& state) {
  World& w = TheWorld();
  FillSoftwareList(w);
  app::DataFolder data(w.machine);
  service::SoftwareListStore store(w.machine, data, w.progress);
  store.Refresh();
  const std::string key = std::string(inventory::kUninstallKeyPath) + "\\{100001-" + Word(1) + "}";
  static int n = 0;  // the benchmark runs more than once on the same machine
  for (auto _ : state) {
    state.PauseTiming();
    w.fake.registry.Write(RootKey::LocalMachine, key, "DisplayVersion",
                          RegValue::String(++n % 2 ? "2.2" : "2.1"), RegView::View64);
    w.fake.clock.Advance(60ull * 10'000'000);
    state.ResumeTiming();
    store.Refresh();
    if (!store.last_changes().merged) {
      state.SkipWithError("no merge");
      break;
    }
  }
}

BENCHMARK(BM_FullInventory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UnchangedInventory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_InventoryFromCacheFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FullOverUnchanged)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RefreshUnchangedNewProcess)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RefreshAfterOneValueChanged)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
