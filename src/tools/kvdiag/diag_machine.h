#pragma once
// The machine a kvdiag command looks at: this one (the real Windows machine
// on Windows, an empty fake one elsewhere), or a fake machine replayed from
// registry export files given with --reg.
#include <functional>
#include <map>
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

  // Takes "--machine DESC.json" out of `args` and applies the description to
  // the replayed machine (placeholders in the replayed registry expanded);
  // then adds the system programs. False, with the reason printed, on a bad
  // description or without --reg.
  bool ApplyMachineOption(Args& args);

  // Takes "--data DIR" out of `args` (not on Windows, where the client's real
  // data folder is used): DIR's files are copied into the machine's data
  // folder, and SaveDataFolder() writes back the files that changed, so a
  // second run sees what the first one saved. False on a bad option.
  bool TakeDataOption(Args& args);
  // Writes the data folder's new and changed files back to DIR; true without
  // --data. Prints what it cannot write.
  bool SaveDataFolder();

 private:
  std::unique_ptr<platform::FakeMachine> fake_;
  bool ok_ = true;
  std::string data_dir_;
  std::map<std::string, std::string> data_files_;  // name -> bytes as read from DIR
};

// Reads a whole local file (a path of the machine kvdiag runs on); the
// failure says why ("not found: x.reg (error 2)").
platform::Result<std::string> ReadLocalFile(const std::string& path);

// Reads every regular file of a local folder and hands each name with its
// bytes, or why they could not be read, to `take`, which returns false to
// stop. False when `take` stopped or the folder cannot be listed (printed).
bool ForEachLocalFile(
    const std::string& folder,
    const std::function<bool(const std::string& name, platform::Result<std::string> bytes)>& take);

// "kvdiag: cannot <what> <object>: <reason>" on stderr.
void PrintFailure(const char* what, const std::string& object, const platform::Status& why);

}  // namespace kv::diag
