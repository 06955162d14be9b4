#include "service/machine_identity.h"

#include "app/activity_log.h"
#include "platform/identifiers.h"
#include "store/xml_store.h"
#include "store/xml_writer.h"

namespace kv::service {
namespace {
constexpr char kFile[] = "kvapp.xml";
}  // namespace

MachineIdentity::MachineIdentity(app::DataFolder& data_folder) : folder_(data_folder) {}

MachineIdentity& MachineIdentity::Instance() {
  // Never destroyed: worker threads may still use it while the process ends.
  static MachineIdentity* identity = [] {
    auto* folder = new app::DataFolder(platform::SystemMachine());
    folder->SetLog(&app::ActivityLog::Instance());
    auto* made = new MachineIdentity(*folder);
    made->Load();
    return made;
  }();
  return *identity;
}

std::string MachineIdFromRegistryGuid(const std::string& registry_form) {
  std::string out;
  for (const char ch : registry_form) {
    if (ch != '{' && ch != '}' && ch != '-') out += ch;
  }
  return out;
}

void MachineIdentity::Load() {
  // Known before loading: a file that does not parse is set aside by the
  // load, and a broken identity is still no reason to make a second one.
  platform::FileSystem& files = folder_.machine().files;
  const std::string path = folder_.GetDataFilePath(kFile);
  const bool had_file = files.Exists(path) || files.Exists(path + ".bak");
  auto doc = store::LoadStore(folder_, kFile);
  if (doc) {
    if (const auto machine = doc->Find("Machine")) {
      store::ReadFields(*machine, {{"Name", &name_}, {"GUID", &guid_}});
    }
    return;
  }
  // A broken file was set aside and held or unreadable files stay as they
  // are: only a folder that never had an identity gets one.
  if (had_file || !doc.status().Is(platform::ErrorKind::NotFound) || !guid_.empty()) return;
  auto made = folder_.machine().ids.NewGuid();
  if (made && !platform::IsRegistryGuid(*made)) {
    made = platform::Status::Error(platform::ErrorKind::Corrupt, "not a GUID: " + *made);
  }
  if (!made) {
    if (folder_.log()) {
      folder_.log()->Write("Cannot make a machine identifier: %s", made.status().ToString().c_str());
    }
    return;
  }
  guid_ = MachineIdFromRegistryGuid(*made);
  Save();
}

void MachineIdentity::Save() {
  const platform::Status saved = store::SaveStore(folder_, kFile, [this](store::XmlWriter& w) {
    w.Open("", "Machine");
    w.Text(" ", "Name", name_);
    w.Text(" ", "GUID", guid_);
    w.Close("", "Machine");
  });
  // Used for this run all the same; the next start makes another.
  if (!saved && folder_.log()) {
    folder_.log()->Write("Cannot save the machine identifier: %s", saved.ToString().c_str());
  }
}

}  // namespace kv::service
