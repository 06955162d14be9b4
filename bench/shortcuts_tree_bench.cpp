// The shortcuts tree on a fake machine with 3,000 shortcuts in 300 nested
// folders (user's and all users' Programs) and 1,000 uninstall entries: a
// full scan of an empty tree against a rescan when nothing changed, in the
// same process and in a new one that starts from the cache.
#include <benchmark/benchmark.h>

#include <string>

#include "app/data_folder.h"
#include "app/progress_tracker.h"
#include "inventory/shortcuts_tree.h"
#include "inventory/uninstall_scanner.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"

namespace {

using namespace kv;
using platform::SpecialFolder;

constexpr int kTopFolders = 50;  // per Programs folder, each with two subfolders
constexpr int kPerFolder = 10;   // shortcuts in every folder
constexpr int kUninstall = 1000;

struct World {
  platform::FakeMachine fake;
  platform::Machine& machine = fake.machine;
  app::DataFolder data{machine};
  app::ProgressRange range;
  app::ProgressTracker progress{range};
  inventory::UninstallScanner uninstall{machine, data};

  World() {
    // Every target is a PE image with a version resource, read by the real walker.
    platform::VersionSpec layout;
    layout.tables = {{"040904b0",
                    {{"CompanyName", "Bench Software"},
                     {"ProductName", "Bench Product"},
                     {"FileDescription", "Bench tool"},
                     {"ProductVersion", "5, 2, 0, 1"}}}};
    const std::string block = platform::BuildVersionBlock(layout);
    const std::string image = platform::BuildPeImage(&block);
    layout.tables = {{"040904b0", {{"ProductName", "Windows"}}}};
    const std::string windows_block = platform::BuildVersionBlock(layout);
    fake.files.AddFile("C:\\Windows\\system32\\notepad.exe",
                       platform::BuildPeImage(&windows_block));
    for (int i = 0; i < kUninstall; ++i) {
      const std::string id = "Program" + std::to_string(i);
      const std::string exe = "C:\\Program Files\\" + id + "\\uninst.exe";
      fake.files.AddFile(exe, "MZ");
      const std::string key = std::string(inventory::kUninstallKeyPath) + "\\" + id;
      fake.registry.Write(platform::RootKey::LocalMachine, key, "DisplayName",
                          platform::RegValue::String("Program " + std::to_string(i)),
                          platform::RegView::View64);
      fake.registry.Write(platform::RootKey::LocalMachine, key, "UninstallString",
                          platform::RegValue::String("\"" + exe + "\" /u"),
                          platform::RegView::View64);
    }
    uninstall.Scan();
    int n = 0;
    for (SpecialFolder programs : {SpecialFolder::Programs, SpecialFolder::CommonPrograms}) {
      const std::string base = *fake.shell.GetFolder(programs) + "\\";
      const std::string side = programs == SpecialFolder::Programs ? "User" : "Common";
      for (int t = 0; t < kTopFolders; ++t) {
        const std::string top = base + side + " Vendor " + std::to_string(t) + "\\";
        for (const std::string& folder : {top, top + "Tools\\", top + "Extras\\"})
          for (int s = 0; s < kPerFolder; ++s, ++n) {
            const std::string app = "C:\\Program Files\\App" + std::to_string(n) + "\\";
            // One in ten is an uninstaller, which gives no node.
            const std::string exe = app + (s == 9 ? "unins000.exe" : "app.exe");
            fake.files.AddFile(exe, image);
            fake.shell.AddShortcut(folder + "Shortcut " + std::to_string(s) + ".lnk", exe,
                                   s % 3 == 0 ? "/start" : "");
          }
      }
    }
  }
};

World& TheWorld() {
  static World world;
  return world;
}

void BM_FullScan(benchmark::State& state) {
  World& w = TheWorld();
  for (auto _ : state) {
    inventory::ShortcutsTree tree(w.machine, w.data, w.progress);
    tree.Scan(w.uninstall);
    benchmark::DoNotOptimize(tree.root().children.size());
  }
}
BENCHMARK(BM_FullScan)->Unit(benchmark::kMillisecond);

void BM_UnchangedRescan(benchmark::State& state) {
  World& w = TheWorld();
  inventory::ShortcutsTree tree(w.machine, w.data, w.progress);
  tree.Scan(w.uninstall);
  for (auto _ : state) {
    tree.Scan(w.uninstall);
    benchmark::DoNotOptimize(tree.root().children.size());
  }
}
BENCHMARK(BM_UnchangedRescan)->Unit(benchmark::kMillisecond);

// A new process: load the cache, rescan an unchanged machine, save.
void BM_CachedRunInANewProcess(benchmark::State& state) {
  World& w = TheWorld();
  {
    inventory::ShortcutsTree tree(w.machine, w.data, w.progress);
    tree.Scan(w.uninstall);
    tree.SaveCache();
  }
  for (auto _ : state) {
    inventory::ShortcutsTree tree(w.machine, w.data, w.progress);
    tree.LoadCache();
    tree.Scan(w.uninstall);
    tree.SaveCache();
    benchmark::DoNotOptimize(tree.root().children.size());
  }
}
BENCHMARK(BM_CachedRunInANewProcess)->Unit(benchmark::kMillisecond);

void BM_SaveCache(benchmark::State& state) {
  World& w = TheWorld();
  inventory::ShortcutsTree tree(w.machine, w.data, w.progress);
  tree.Scan(w.uninstall);
  for (auto _ : state) tree.SaveCache();
}
BENCHMARK(BM_SaveCache)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
