// Executables and command lines: what the inventory reads from one file.
#include <cstdio>

#include "inventory/command_line.h"
#include "inventory/file_version_info.h"
#include "platform/fake/fake_machine.h"
#include "tools/kvdiag/diag_machine.h"

namespace kv::diag {
namespace {

// On Windows the real machine; elsewhere a fake one holding the named local
// file at the same path, so real executables and links can be examined.
class FileMachine {
 public:
  explicit FileMachine(const std::string& path) {
#ifndef _WIN32
    // A file that cannot be read shows as missing in what the command prints.
    if (auto bytes = ReadLocalFile(path)) fake_.files.AddFile(path, *bytes);
#endif
    (void)path;
  }
  platform::Machine& machine() {
#ifdef _WIN32
    return platform::SystemMachine();
#else
    return fake_.machine;
#endif
  }

 private:
  platform::FakeMachine fake_;
};

}  // namespace

int RunFileInfo(const Args& args) {
  if (args.size() != 1) return UsageError("fileinfo PATH");
  FileMachine fm(args[0]);
  inventory::FileVersionInfo info;
  if (!info.Read(fm.machine().shell, args[0])) {
    std::printf("%s: no version information\n", args[0].c_str());
    return 1;
  }
  const std::pair<const char*, const std::string*> rows[] = {
      {"CompanyName", &info.CompanyName},       {"FileDescription", &info.FileDescription},
      {"FileVersion", &info.FileVersion},       {"InternalName", &info.InternalName},
      {"LegalCopyright", &info.LegalCopyright}, {"OriginalFilename", &info.OriginalFilename},
      {"ProductName", &info.ProductName},       {"ProductVersion", &info.ProductVersion},
      {"SpecialBuild", &info.SpecialBuild},
  };
  for (const auto& [name, value] : rows) std::printf("%-20s %s\n", name, value->c_str());
  std::printf("%-20s %s\n", "FixedProductVersion",
              inventory::FormatVersion(info.FixedProductVersion).c_str());
  return 0;
}

int RunSplit(const Args& args) {
  if (args.size() != 1) return UsageError("split TEXT");
  inventory::CommandLine c;
  c.Split(platform::SystemMachine(), args[0], true);
  std::printf("Path       %s\nArguments  %s\n", c.Path.c_str(), c.Arguments.c_str());
  return 0;
}

int RunShortcut(const Args& args) {
  if (args.size() != 1) return UsageError("shortcut PATH");
  FileMachine fm(args[0]);
  inventory::CommandLine c;
  if (!inventory::ResolveShortcut(fm.machine(), args[0], c)) {
    std::printf("%s: not resolved\n", args[0].c_str());
    return 1;
  }
  std::printf("Path       %s\nArguments  %s\n", c.Path.c_str(), c.Arguments.c_str());
  return 0;
}

}  // namespace kv::diag
