#pragma once
// The machine identifier the service knows this client by: 32 upper-case
// hexadecimal digits, made once per data folder and kept in "kvapp.xml"
// (root `Machine`, children `Name` and `GUID`).
#include <mutex>
#include <string>

#include "app/data_folder.h"

namespace kv::service {

class MachineIdentity {
 public:
  explicit MachineIdentity(app::DataFolder& data_folder);
  MachineIdentity(const MachineIdentity&) = delete;
  MachineIdentity& operator=(const MachineIdentity&) = delete;

  // The process-wide identity on the system machine, loaded on first use.
  static MachineIdentity& Instance();

  // Reads "kvapp.xml" (or its ".bak"). Only when neither exists is a new
  // identifier made and saved at once; a file with an empty `GUID` keeps it
  // empty (the file is the user's to keep). A file that exists but cannot be
  // read now, or does not parse, gets no new identifier either.
  void Load();
  const std::string& GUID() const { return guid_; }
  const std::string& Name() const { return name_; }

 private:
  void Save();

  app::DataFolder& folder_;
  std::string name_;
  std::string guid_;
};

// The identifier made from a GUID's registry form: braces and dashes gone.
std::string MachineIdFromRegistryGuid(const std::string& registry_form);

}  // namespace kv::service
