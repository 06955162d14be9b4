#include "tools/kvdiag/diag_machine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <filesystem>

#include "app/data_folder.h"
#include "platform/fake/machine_description.h"
#include "platform/fake/reg_file.h"

namespace kv::diag {

platform::Result<std::string> ReadLocalFile(const std::string& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int code = errno;
    const platform::ErrorKind kind = code == ENOENT   ? platform::ErrorKind::NotFound
                                     : code == EACCES ? platform::ErrorKind::AccessDenied
                                                      : platform::ErrorKind::Other;
    std::string message = path;
    if (kind == platform::ErrorKind::Other && code) message += std::string(": ") + std::strerror(code);
    return platform::Status::Error(kind, message, static_cast<std::uint32_t>(code));
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) return platform::Status::Error(platform::ErrorKind::Other, "read error: " + path);
  return buf.str();
}

bool ForEachLocalFile(
    const std::string& folder,
    const std::function<bool(const std::string& name, platform::Result<std::string> bytes)>& take) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    if (!take(entry.path().filename().string(), ReadLocalFile(entry.path().string())))
      return false;
  }
  if (ec) {
    PrintFailure("list", folder, platform::Status::Error(platform::ErrorKind::NotFound, ec.message()));
    return false;
  }
  return true;
}

void PrintFailure(const char* what, const std::string& object, const platform::Status& why) {
  std::fprintf(stderr, "kvdiag: cannot %s %s: %s\n", what, object.c_str(), why.ToString().c_str());
}

DiagMachine::DiagMachine(Args& args) {
  Args rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--reg") {
      rest.push_back(args[i]);
      continue;
    }
    if (!fake_) {
      fake_ = std::make_unique<platform::FakeMachine>();
      fake_->ids.UseSystemGuids(true);  // data folders it fills may meet a real service
    }
    // Every following argument that is not an option is an export file.
    bool any = false;
    while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
      const std::string& file = args[++i];
      any = true;
      const platform::Result<std::string> content = ReadLocalFile(file);
      if (!content) {
        PrintFailure("read", file, content.status());
        ok_ = false;
        continue;
      }
      const auto r = platform::LoadRegFile(fake_->registry, *content);
      if (!r.ok) {
        std::fprintf(stderr, "kvdiag: %s: %s\n", file.c_str(), r.error.c_str());
        ok_ = false;
      }
    }
    if (!any) {
      std::fprintf(stderr, "kvdiag: --reg needs at least one file\n");
      ok_ = false;
    }
  }
  args = rest;
}

void DiagMachine::AddSystemPrograms() {
  platform::Machine& m = machine();
  const auto system = m.shell.GetFolder(platform::SpecialFolder::System);
  if (!system) return;
  for (const char* exe : {"MsiExec.exe", "rundll32.exe", "RegSvr32.exe", "cmd.exe"})
    if (!m.files.Exists(*system + "\\" + exe))
      m.files.WriteAll(*system + "\\" + exe, "").IgnoreError();  // a stand-in only
}

bool DiagMachine::ApplyMachineOption(Args& args) {
  std::string desc_file;
  Args rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--machine" && i + 1 < args.size() && desc_file.empty()) desc_file = args[++i];
    else rest.push_back(args[i]);
  }
  args = rest;
  if (!desc_file.empty()) {
    // Only a fake machine takes a description; on Windows that means --reg.
    platform::Machine& m = machine();
    auto* files = dynamic_cast<platform::FakeFileSystem*>(&m.files);
    auto* shell = dynamic_cast<platform::FakeShell*>(&m.shell);
    if (!files || !shell) {
      std::fprintf(stderr, "kvdiag: --machine needs a replayed machine (--reg); "
                           "use prepare-machine to set up a real one\n");
      return false;
    }
    const platform::Result<std::string> text = ReadLocalFile(desc_file);
    if (!text) {
      PrintFailure("read", desc_file, text.status());
      return false;
    }
    const auto d = platform::ParseMachineDescription(*text);
    if (!d.ok) {
      std::fprintf(stderr, "kvdiag: %s: %s\n", desc_file.c_str(), d.error.c_str());
      return false;
    }
    platform::ApplyToFakeMachine(d.description, *files, *shell);
    // The exports may name files by the same placeholders.
    if (auto copied = platform::CopyRegistryExpanded(m.registry, m.registry, m.shell); !copied) {
      PrintFailure("expand the placeholders of", "the registry", copied.status());
      return false;
    }
  }
  if (replayed() || !desc_file.empty()) AddSystemPrograms();
  return true;
}

bool DiagMachine::TakeDataOption(Args& args) {
  Args rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--data" && i + 1 < args.size() && data_dir_.empty()) data_dir_ = args[++i];
    else rest.push_back(args[i]);
  }
  args = rest;
  if (data_dir_.empty()) return true;
#ifdef _WIN32
  std::fprintf(stderr, "kvdiag: --data is for replayed machines; Windows uses the real data folder\n");
  return false;
#else
  std::error_code ec;
  std::filesystem::create_directories(data_dir_, ec);
  app::DataFolder folder(machine());
  const std::string target = folder.GetDataFolder();
  return ForEachLocalFile(data_dir_, [&](const std::string& name, platform::Result<std::string> bytes) {
    if (!bytes) {
      PrintFailure("read", data_dir_ + "/" + name, bytes.status());
      return false;
    }
    app::CreateDirectoryChain(machine().files, target + name);
    if (platform::Status wrote = machine().files.WriteAll(target + name, *bytes); !wrote) {
      PrintFailure("copy", data_dir_ + "/" + name, wrote);
      return false;
    }
    data_files_[name] = std::move(bytes).value();
    return true;
  });
#endif
}

bool DiagMachine::SaveDataFolder() {
  if (data_dir_.empty()) return true;
  app::DataFolder folder(machine());
  const std::string source = folder.GetDataFolder();
  bool ok = true;
  // Files the run removed (a finished save's ".bak", a broken file renamed
  // aside) go from DIR too, so DIR stays what the client would leave.
  for (const auto& [name, bytes] : data_files_) {
    if (machine().files.Exists(source + name)) continue;
    std::error_code ec;
    std::filesystem::remove(std::filesystem::path(data_dir_) / name, ec);
  }
  for (const platform::FolderEntry& e : machine().files.ListFolder(source)) {
    if (e.info.directory) continue;
    auto bytes = machine().files.ReadAll(source + e.name);
    if (!bytes) continue;
    auto known = data_files_.find(e.name);
    if (known != data_files_.end() && known->second == *bytes) continue;  // unchanged: not rewritten
    const std::string path = (std::filesystem::path(data_dir_) / e.name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    out.close();
    if (!out) {
      PrintFailure("write", path, platform::Status::Error(platform::ErrorKind::Other, path));
      ok = false;
    }
  }
  return ok;
}

}  // namespace kv::diag
