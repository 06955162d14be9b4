// The registry-export reader on arbitrary bytes, and the uninstall scan and
// its cache over whatever it loaded: nothing may crash; every name and text
// value loaded is valid UTF-8; a scanned list keeps its invariants and comes
// back from "ukey.xml" with the same Id, DisplayName and DisplayVersion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/data_folder.h"
#include "inventory/uninstall_scanner.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/reg_file.h"
#include "inventory/uninstall_cache.h"
#include "text/compare.h"
#include "text/utf8.h"

using namespace kv;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Every key below `path`, without recursion (exports may nest deeply).
void CheckTree(platform::Registry& reg, platform::RootKey root) {
  std::vector<std::string> pending{""};
  int visited = 0;
  while (!pending.empty() && ++visited < 5000) {
    const std::string path = pending.back();
    pending.pop_back();
    auto key = reg.Open(root, path);
    Check(key != nullptr);
    for (const auto& v : key->Values()) {
      Check(text::IsValidUtf8(v.name));
      if (v.value.IsText()) Check(text::IsValidUtf8(v.value.text));
    }
    for (const std::string& name : key->SubKeyNames()) {
      Check(!name.empty() && name.find('\\') == std::string::npos && text::IsValidUtf8(name));
      pending.push_back(path.empty() ? name : path + "\\" + name);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Check(text::IsValidUtf8(platform::DecodeRegFileText(input)));

  // One machine for every input (building one costs more than a run); the
  // previous input's keys are removed first.
  static platform::FakeMachine m;
  static app::DataFolder folder(m.machine);
  for (auto root : {platform::RootKey::LocalMachine, platform::RootKey::CurrentUser,
                    platform::RootKey::ClassesRoot})
    for (const std::string& name : m.registry.Open(root, "")->SubKeyNames())
      Check(m.registry.DeleteTree(root, name).ok());
  const platform::RegFileResult r = platform::LoadRegFile(m.registry, input);
  Check(r.ok == r.error.empty());
  for (auto root : {platform::RootKey::LocalMachine, platform::RootKey::CurrentUser,
                    platform::RootKey::ClassesRoot})
    CheckTree(m.registry, root);

  using Caching = inventory::UninstallScanner::Caching;
  inventory::UninstallScanner scanner(m.machine, folder, Caching::InDataFolder);
  Check(scanner.Scan() == (scanner.Count() > 0));
  const auto& entries = scanner.entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const inventory::UninstallEntry& e = entries[i];
    Check(!e.DisplayName.empty() && e.DisplayName.front() != ' ' && e.DisplayName.back() != ' ');
    Check(!e.UninstallString.Path.empty());
    Check(e.AppFolder.empty() || e.AppFolder.back() == '\\');
    Check(scanner.FindById(e.Id) <= static_cast<int>(i));
    for (std::size_t j = 0; j < i; ++j)
      Check(!text::EqualsNoCase(entries[j].DisplayName, e.DisplayName));
  }

  scanner.SaveCache();
  inventory::UninstallScanner cached(m.machine, folder, Caching::InDataFolder);
  cached.LoadCache();
  Check(cached.SameAs(scanner));
  return 0;
}
