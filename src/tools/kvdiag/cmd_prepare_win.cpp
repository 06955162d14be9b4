// kvdiag prepare-machine: makes this Windows machine (in practice a private
// Wine prefix) look like a machine description, so that the inventory of a
// real machine can be compared with the native replay of the same
// description. Writes the executables, the .lnk files through IShellLinkW
// with their last-write times, and imports registry exports with the
// description's folder placeholders expanded.
#include <cstdio>
#include <string>

#include "app/data_folder.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/machine_description.h"
#include "platform/fake/reg_file.h"
#include "platform/machine.h"
#include "platform/win32/shell_link_win.h"
#include "tools/kvdiag/commands.h"
#include "tools/kvdiag/diag_machine.h"

namespace kv::diag {
namespace {

constexpr const char* kUsage = "prepare-machine DESC.json [--reg FILE...]";

}  // namespace

int RunPrepareMachine(const Args& args) {
  std::string desc_file;
  std::vector<std::string> reg_files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--reg") {
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) reg_files.push_back(args[++i]);
    } else if (desc_file.empty() && args[i].rfind("--", 0) != 0) {
      desc_file = args[i];
    } else {
      return UsageError(kUsage);
    }
  }
  if (desc_file.empty()) return UsageError(kUsage);

  const platform::Result<std::string> json = ReadLocalFile(desc_file);
  if (!json) {
    PrintFailure("read", desc_file, json.status());
    return 1;
  }
  const platform::DescriptionResult d = platform::ParseMachineDescription(*json);
  if (!d.ok) {
    std::fprintf(stderr, "kvdiag: %s: %s\n", desc_file.c_str(), d.error.c_str());
    return 1;
  }

  platform::Machine& m = platform::SystemMachine();
  int failures = 0;
  auto fail = [&](const char* what, const std::string& path,
                  const platform::Status& why = platform::Status::Error(platform::ErrorKind::Other,
                                                                        "")) {
    PrintFailure(what, path, why);
    ++failures;
  };
  for (const auto& f : d.description.folders) {
    const std::string path = platform::ExpandFolderPlaceholders(f, m.shell);
    if (!app::CreateDirectoryChain(m.files, path + "\\")) fail("create folder", path);
  }
  for (const auto& exe : d.description.executables) {
    const std::string path = platform::ExpandFolderPlaceholders(exe.path, m.shell);
    if (!app::CreateDirectoryChain(m.files, path)) {
      fail("create the folder of", path);
      continue;
    }
    if (platform::Status wrote = m.files.WriteAll(path, platform::ExecutableImage(exe)); !wrote)
      fail("write", path, wrote);
  }
  platform::win32::ShellLinkWriter writer;
  for (const auto& s : d.description.shortcuts) {
    const std::string link = platform::ExpandFolderPlaceholders(s.link, m.shell);
    const std::string target = platform::ExpandFolderPlaceholders(s.target, m.shell);
    if (!app::CreateDirectoryChain(m.files, link) ||
        !writer.Write(link, target, platform::ExpandFolderPlaceholders(s.arguments, m.shell),
                      target.substr(0, target.rfind('\\') + 1))) {
      fail("write shortcut", link);
      continue;
    }
    if (s.last_write && !platform::win32::SetLastWriteTime(link, *s.last_write))
      fail("set the time of", link);
  }
  int values = 0;
  for (const auto& file : reg_files) {
    const platform::Result<std::string> content = ReadLocalFile(file);
    if (!content) {
      fail("read", file, content.status());
      continue;
    }
    platform::FakeRegistry staged;
    const auto r = platform::LoadRegFile(staged, *content);
    if (!r.ok) {
      std::fprintf(stderr, "kvdiag: %s: %s\n", file.c_str(), r.error.c_str());
      ++failures;
      continue;
    }
    const platform::Result<int> n = platform::CopyRegistryExpanded(staged, m.registry, m.shell);
    if (!n) fail("import", file, n.status());
    else values += *n;
  }
  std::printf("%zu folders, %zu executables, %zu shortcuts, %d registry values; %d failures\n",
              d.description.folders.size(), d.description.executables.size(),
              d.description.shortcuts.size(), values, failures);
  return failures ? 1 : 0;
}

}  // namespace kv::diag
