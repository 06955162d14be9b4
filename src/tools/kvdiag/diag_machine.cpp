#include "tools/kvdiag/diag_machine.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/fake/reg_file.h"

namespace kv::diag {

bool ReadLocalFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buf;
  buf << in.rdbuf();
  out = buf.str();
  return true;
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
      std::string content;
      if (!ReadLocalFile(file, content)) {
        std::fprintf(stderr, "kvdiag: cannot read %s\n", file.c_str());
        ok_ = false;
        continue;
      }
      const auto r = platform::LoadRegFile(fake_->registry, content);
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
    if (!m.files.Exists(*system + "\\" + exe)) m.files.WriteAll(*system + "\\" + exe, "");
}

}  // namespace kv::diag
