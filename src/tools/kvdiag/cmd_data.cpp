// kvdiag data: the files of the client's data folder, each with its size and
// whether it loads as a document, or why it cannot be read. Nothing is
// changed: a broken file is reported, not renamed aside as a store would.
#include <algorithm>
#include <cstdio>

#include "app/data_folder.h"
#include "platform/fake/fake_machine.h"
#include "store/xml_store.h"
#include "text/compare.h"
#include "tools/kvdiag/diag_machine.h"

namespace kv::diag {
namespace {

constexpr const char* kUsage = "data [--folder DIR]";

bool IsXmlFile(std::string_view name) {
  for (std::string_view ending : {".xml", ".xml.bak", ".xml.broken"})
    if (name.size() >= ending.size() &&
        text::EqualsNoCase(name.substr(name.size() - ending.size()), ending))
      return true;
  return false;
}

}  // namespace

int RunData(const Args& args) {
  std::string local;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--folder" && i + 1 < args.size()) local = args[++i];
    else return UsageError(kUsage);
  }
  // With --folder, a copy of a user's data folder is examined through a fake
  // machine holding those files where the client keeps them.
  std::unique_ptr<platform::FakeMachine> fake;
  platform::Machine* machine = &platform::SystemMachine();
  if (!local.empty()) {
    fake = std::make_unique<platform::FakeMachine>();
    machine = &fake->machine;
  }
  app::DataFolder folder(*machine);
  const std::string data = folder.GetDataFolder();
  if (fake && !ForEachLocalFile(local, [&](const std::string& name,
                                             platform::Result<std::string> bytes) {
        // A file that cannot be read is reported and the others still shown.
        if (bytes) fake->files.AddFile(data + name, *bytes);
        else PrintFailure("read", local + "/" + name, bytes.status());
        return true;
      }))
    return 1;

  std::printf("data folder %s\n", data.c_str());
  std::vector<platform::FolderEntry> entries = machine->files.ListFolder(data);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  int problems = 0;
  for (const platform::FolderEntry& e : entries) {
    if (e.info.directory) continue;
    std::string state = "-";
    if (IsXmlFile(e.name)) {
      const auto doc = store::LoadXmlFile(machine->files, data + e.name);
      if (doc) {
        state = "document <" + std::string(doc->Root().Name()) + ">";
      } else {
        state = doc.status().ToString();
        ++problems;
      }
    }
    std::printf("  %-28s %12llu  %s\n", e.name.c_str(),
                static_cast<unsigned long long>(e.info.size), state.c_str());
  }
  return problems ? 1 : 0;
}

}  // namespace kv::diag
