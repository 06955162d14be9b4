#pragma once
// The machine a kvdiag command looks at: this one (the real Windows machine
// on Windows, an empty fake one elsewhere), or a fake machine replayed from
// registry export files given with --reg.
#include <memory>
#include <string>

#include "platform/fake/fake_machine.h"
#include "tools/kvdiag/commands.h"

namespace kv::diag {

class DiagMachine {
 public:
  // Takes "--reg FILE..." out of `args`; on a bad file prints why and sets ok() false.
  explicit DiagMachine(Args& args);
  bool ok() const { return ok_; }
  platform::Machine& machine() { return fake_ ? fake_->machine : platform::SystemMachine(); }
  bool replayed() const { return fake_ != nullptr; }
  // An export carries no files: gives a replayed machine the system programs
  // that uninstall commands name without a path, as every Windows has them,
  // so they resolve on the search path as on the exporting machine.
  void AddSystemPrograms();

 private:
  std::unique_ptr<platform::FakeMachine> fake_;
  bool ok_ = true;
};

// Reads a whole local file (a path of the machine kvdiag runs on); the
// failure says why ("not found: x.reg (error 2)").
platform::Result<std::string> ReadLocalFile(const std::string& path);

// "kvdiag: cannot <what> <object>: <reason>" on stderr.
void PrintFailure(const char* what, const std::string& object, const platform::Status& why);

}  // namespace kv::diag
