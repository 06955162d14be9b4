#include "tools/kvdiag/diag_machine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

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
    if (!fake_) fake_ = std::make_unique<platform::FakeMachine>();
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

}  // namespace kv::diag
