#include "inventory/uninstall_cache.h"

#include "store/xml_store.h"

namespace kv::inventory {
namespace {

using store::XmlDocument;
using store::XmlElement;
using store::XmlWriter;

constexpr std::string_view kRoot = "UninstallKey";
constexpr std::string_view kRecord = "Record";
constexpr std::string_view kRecordIndent = " ";
constexpr std::string_view kFieldIndent = "  ";
// The record's end tag has no line end of its own: the next record's start
// tag, or the root's end tag, continues its line.
constexpr std::string_view kRecordEnd = " </Record>";

void WriteRecords(XmlWriter& w, const std::vector<UninstallEntry>& entries) {
  w.Open("", kRoot);
  bool after_record = false;
  for (const UninstallEntry& e : entries) {
    w.Open(after_record ? std::string(kRecordEnd) + std::string(kRecordIndent)
                        : std::string(kRecordIndent),
           kRecord);
    after_record = true;
    w.Text(kFieldIndent, "Id", e.Id);
    w.Text(kFieldIndent, "DisplayName", e.DisplayName);
    w.Text(kFieldIndent, "DisplayVersion", e.DisplayVersion);
    w.Text(kFieldIndent, "DisplayIcon", e.DisplayIcon);
    w.Text(kFieldIndent, "Contact", e.Contact);
    w.Text(kFieldIndent, "HelpLink", e.HelpLink);
    w.Text(kFieldIndent, "InstallDate", e.InstallDate);
    w.Text(kFieldIndent, "InstallLocation", e.InstallLocation);
    w.Text(kFieldIndent, "InstallSource", e.InstallSource);
    w.Text(kFieldIndent, "Publisher", e.Publisher);
    w.Text(kFieldIndent, "URLInfoAbout", e.URLInfoAbout);
    w.Text(kFieldIndent, "URLUpdateInfo", e.URLUpdateInfo);
    w.Text(kFieldIndent, "UninstallString", e.UninstallString.FormatForSplit());
    w.Text(kFieldIndent, "AppFolder", e.AppFolder);
  }
  w.Close(after_record ? kRecordEnd : "", kRoot);
}

}  // namespace

std::string UninstallCacheDocument(const std::vector<UninstallEntry>& entries) {
  XmlWriter w;
  WriteRecords(w, entries);
  return w.Take();
}

platform::Status SaveUninstallCache(app::DataFolder& folder,
                                    const std::vector<UninstallEntry>& entries) {
  return store::SaveStore(folder, kUninstallCacheFile, [&](XmlWriter& w) { WriteRecords(w, entries); });
}

std::vector<UninstallEntry> LoadUninstallCache(app::DataFolder& folder) {
  std::vector<UninstallEntry> out;
  const platform::Result<XmlDocument> doc = store::LoadStore(folder, kUninstallCacheFile);
  if (!doc) return out;
  const std::optional<XmlElement> root = doc->Find(kRoot);
  if (!root) return out;
  platform::Machine& machine = folder.machine();
  for (XmlElement record : root->Children()) {
    UninstallEntry e;
    store::ReadFields(record,
               {{"Id", &e.Id},
                {"DisplayName", &e.DisplayName},
                {"DisplayVersion", &e.DisplayVersion},
                {"DisplayIcon", &e.DisplayIcon},
                {"Contact", &e.Contact},
                {"HelpLink", &e.HelpLink},
                {"InstallDate", &e.InstallDate},
                {"InstallSource", &e.InstallSource},
                {"Publisher", &e.Publisher},
                {"URLInfoAbout", &e.URLInfoAbout},
                {"URLUpdateInfo", &e.URLUpdateInfo},
                {"InstallLocation",
                 [&](const XmlElement& el) { e.InstallLocation = e.AppFolder = el.Text(); }},
                {"AppFolder", &e.AppFolder},
                {"UninstallString", [&](const XmlElement& el) {
                   e.UninstallString.Split(machine, el.Text(), false);
                 }}});
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace kv::inventory
