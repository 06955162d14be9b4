// The report that tells the service which programs are installed and which
// are gone ("report.xml" of "add_programs").
#include "service/software_list_store.h"
#include "store/xml_writer.h"

namespace kv::service {
namespace {

using inventory::FormatVersion;
using inventory::SameVersionNumbers;
using Lock = std::lock_guard<std::recursive_mutex>;

bool ReportsProgram(const SoftwareInfo& p) {
  return p.VerInstalled.IsPresent() && !SameVersionNumbers(p.VerInstalled, p.VerOnServer);
}

// The service forgets its idea of this program: gone, or another version.
bool ReportsIdentifier(const SoftwareInfo& p) {
  if (p.GlobalId.empty()) return false;
  return !p.VerInstalled.IsPresent() ||
         (p.VerOnServer.IsPresent() && !SameVersionNumbers(p.VerOnServer, p.VerInstalled));
}

void WriteProgram(store::XmlWriter& w, const SoftwareInfo& p) {
  constexpr std::string_view kField = "   ";
  const auto beta = [&] {
    if (p.State & state::kVersionChanged) {
      w.Text(kField, "BetaRelease", p.VerInstalledIsStableRelease ? "false" : "true");
    }
  };
  w.Open("  ", "Program");
  w.Text(kField, "Name", p.Name);
  if (const auto& entry = p.rti.Entry) {
    if (!p.rti.SoftName_old.empty()) w.Text(kField, "Name_old", p.rti.SoftName_old);
    w.Text(kField, "Version", FormatVersion(p.VerInstalled));
    beta();
    w.Text(kField, "DisplayName", entry->DisplayName);
    w.Text(kField, "DisplayVersion", entry->DisplayVersion);
    w.Text(kField, "HelpLink", entry->HelpLink);
    w.Text(kField, "Publisher", p.Publisher);
    w.Text(kField, "URLInfoAbout", entry->URLInfoAbout);
    w.Text(kField, "URLUpdateInfo", entry->URLUpdateInfo);
    w.Text(kField, "BinaryFilePath", p.rti.cmdline.Path);
    if (p.rti.ExeFileSize == 0) w.Text(kField, "BinaryFileSize", "");
    else w.UInt64(kField, "BinaryFileSize", p.rti.ExeFileSize);
    if (p.rti.HasLiveRecord && p.rti.LiveFileInfo) {
      w.Text(kField, "BinaryFileDescription", p.rti.LiveFileInfo->FileDescription);
    }
  } else {
    w.Text(kField, "Version", FormatVersion(p.VerInstalled));
    beta();
    w.Text(kField, "Publisher", p.Publisher);
  }
  w.Close("  ", "Program");
}

}  // namespace

bool SoftwareListStore::HasSomethingToReport() const {
  Lock lock(mutex_);
  if (!removed_.empty() || !unmatched_ids_.empty()) return true;
  for (const SoftwarePtr& p : installed_) {
    if (ReportsProgram(*p) || ReportsIdentifier(*p)) return true;
  }
  return false;
}

std::string SoftwareListStore::BuildReport(const ReportEnvironment& env) const {
  Lock lock(mutex_);
  store::XmlWriter w;
  w.Open("", "KV");
  w.Open("", "Client");
  w.Text(" ", "Version", env.client_version);
  w.Text(" ", "Build", env.client_build);
  w.Close("", "Client");
  WriteOsInfo(w, env);

  w.Open("", "UserSoftware");
  w.Open(" ", "Programs");
  for (const SoftwarePtr& p : installed_) {
    if (ReportsProgram(*p)) WriteProgram(w, *p);
  }
  w.Close(" ", "Programs");

  std::string ids;
  const auto add = [&ids](const std::string& id) {
    if (!ids.empty()) ids += ',';
    ids += id;
  };
  for (const std::string& id : unmatched_ids_) add(id);
  for (const SoftwarePtr& p : installed_) {
    if (ReportsIdentifier(*p)) add(p->GlobalId);
  }
  for (const SoftwarePtr& p : removed_) {
    if (!p->GlobalId.empty()) add(p->GlobalId);
  }
  w.Open(" ", "WasUninstalled");
  // The two blanks before the end tag are part of the text; services trim.
  w.Text("  ", "ProgramIdList", ids + "  ");
  w.Close(" ", "WasUninstalled");
  w.Close("", "UserSoftware");
  w.Close("", "KV");
  return w.Take();
}

}  // namespace kv::service
