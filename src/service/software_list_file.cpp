#include "service/software_list_file.h"

#include "store/xml_writer.h"

namespace kv::service {
namespace {

using inventory::FormatVersion;
using inventory::ParseVersion;
using store::XmlElement;
using store::XmlWriter;

constexpr std::string_view kProgram = "   ";  // a program's fields
constexpr std::string_view kRunInfo = "    ";  // the fields of its "rti"

void WriteProgram(XmlWriter& w, const SoftwareInfo& p) {
  w.Open("  ", "SoftwareInfo");
  w.Text(kProgram, "GlobalId", p.GlobalId);
  w.Text(kProgram, "LocalId", p.LocalId);
  w.Text(kProgram, "Name", p.Name);
  w.Text(kProgram, "Publisher", p.Publisher);
  w.Text(kProgram, "PublisherUrl", p.PublisherUrl);
  w.Text(kProgram, "VerInstalled", FormatVersion(p.VerInstalled));
  w.Bool(kProgram, "VerInstalledIsStableRelease", p.VerInstalledIsStableRelease);
  w.Text(kProgram, "VerLatestStable", FormatVersion(p.VerLatestStable));
  w.Text(kProgram, "VerLatestBeta", FormatVersion(p.VerLatestBeta));
  w.Text(kProgram, "VerOnServer", FormatVersion(p.VerOnServer));
  w.Text(kProgram, "VerInstalledOfSoftwareExplorer",
         FormatVersion(p.VerInstalledOfSoftwareExplorer));
  w.Text(kProgram, "ProgUrl", p.ProgUrl);
  w.Int32(kProgram, "nComments", p.nComments);
  w.Text(kProgram, "CommentsUrl", p.CommentsUrl);
  w.Int32(kProgram, "nUsers", p.nUsers);
  w.Text(kProgram, "UsersUrl", p.UsersUrl);
  w.Int32(kProgram, "nQuestionsPosted", p.nQuestionsPosted);
  w.Text(kProgram, "QuestionsUrl", p.QuestionsUrl);
  w.UInt64(kProgram, "TimeEntryAdded", p.TimeEntryAdded);
  w.UInt32(kProgram, "Flags", p.Flags);
  w.Int32(kProgram, "RatingsCount", p.RatingsCount);
  w.Int32(kProgram, "RatingsSum", p.RatingsSum);
  w.Int32(kProgram, "UserRating", p.UserRating);
  w.Int32(kProgram, "UserRatingOnServer", p.UserRatingOnServer);
  w.UInt32(kProgram, "State", p.State);
  w.Open(kProgram, "rti");
  w.Text(kRunInfo, "IconFile", p.rti.IconFile);
  w.Bool(kRunInfo, "IconFileIsUninstaller", p.rti.IconFileIsUninstaller);
  // Quoted when the path holds a blank, so Split reads back the same command.
  w.Text(kRunInfo, "cmdline", p.rti.cmdline.FormatForSplit());
  // An unknown size is an empty element, not "0".
  if (p.rti.ExeFileSize == 0) w.Text(kRunInfo, "ExeFileSize", "");
  else w.UInt64(kRunInfo, "ExeFileSize", p.rti.ExeFileSize);
  w.UInt64(kRunInfo, "ExeLastWriteTime", p.rti.ExeLastWriteTime);
  if (!p.rti.SoftName_old.empty()) w.Text(kRunInfo, "SoftName_old", p.rti.SoftName_old);
  w.Close(kProgram, "rti");
  w.Close("  ", "SoftwareInfo");
}

std::function<void(const XmlElement&)> VersionField(inventory::ProgramVersion& version) {
  return [&version](const XmlElement& e) { ParseVersion(e.Text(), version); };
}

SoftwarePtr ReadProgram(const XmlElement& element, platform::Machine& machine, bool& has_rti) {
  auto p = std::make_shared<SoftwareInfo>();
  has_rti = false;
  store::ReadFields(
      element,
      {{"GlobalId", &p->GlobalId},
       {"LocalId", &p->LocalId},
       {"Name", &p->Name},
       {"Publisher", &p->Publisher},
       {"PublisherUrl", &p->PublisherUrl},
       {"VerInstalled", VersionField(p->VerInstalled)},
       {"VerInstalledIsStableRelease", &p->VerInstalledIsStableRelease},
       {"VerLatestStable", VersionField(p->VerLatestStable)},
       {"VerLatestBeta", VersionField(p->VerLatestBeta)},
       {"VerOnServer", VersionField(p->VerOnServer)},
       {"VerInstalledOfSoftwareExplorer", VersionField(p->VerInstalledOfSoftwareExplorer)},
       {"ProgUrl", &p->ProgUrl},
       {"nComments", &p->nComments},
       {"CommentsUrl", &p->CommentsUrl},
       {"nUsers", &p->nUsers},
       {"UsersUrl", &p->UsersUrl},
       {"nQuestionsPosted", &p->nQuestionsPosted},
       {"QuestionsUrl", &p->QuestionsUrl},
       {"TimeEntryAdded", &p->TimeEntryAdded},
       {"Flags", &p->Flags},
       {"RatingsCount", &p->RatingsCount},
       {"RatingsSum", &p->RatingsSum},
       {"UserRating", &p->UserRating},
       {"UserRatingOnServer", &p->UserRatingOnServer},
       {"State", &p->State},
       {"rti", [&](const XmlElement& rti) {
          has_rti = true;
          ProgramRunInfo& r = p->rti;
          store::ReadFields(
              rti, {{"IconFile", &r.IconFile},
                    {"IconFileIsUninstaller", &r.IconFileIsUninstaller},
                    {"cmdline",
                     [&](const XmlElement& e) { r.cmdline.Split(machine, e.Text(), false); }},
                    {"ExeFileSize", &r.ExeFileSize},
                    {"ExeLastWriteTime", &r.ExeLastWriteTime},
                    {"SoftName_old", &r.SoftName_old}});
        }}});
  if (p->UserRating < 0 || p->UserRating > 5) p->UserRating = 0;
  return p;
}

}  // namespace

std::string SoftwareListDocument(const SoftwareListContents& contents) {
  XmlWriter w;
  w.Open("", "KV");
  w.Open(" ", "SoftwareList");
  for (const SoftwarePtr& p : contents.installed) WriteProgram(w, *p);
  for (const SoftwarePtr& p : contents.removed) WriteProgram(w, *p);
  w.Close(" ", "SoftwareList");
  w.Open(" ", "MgrState");
  w.Int32("  ", "cRegisteredAssociations", contents.registered_associations);
  w.Int32("  ", "State", contents.manager_state);
  w.Close(" ", "MgrState");
  w.Close("", "KV");
  return w.Take();
}

SoftwareListContents ReadSoftwareList(const store::XmlDocument& document,
                                      platform::Machine& machine) {
  SoftwareListContents out;
  std::optional<XmlElement> kv = document.Find("KV");
  std::optional<XmlElement> list = kv ? kv->Find("SoftwareList") : document.Find("SoftwareList");
  if (list) {
    for (XmlElement element : list->Children()) {
      bool has_rti = false;
      SoftwarePtr p = ReadProgram(element, machine, has_rti);
      if (!has_rti) out.rescan_needed = true;
      if (p->IsInstalled()) {
        out.installed.push_back(std::move(p));
      } else {
        p->VerInstalledOfSoftwareExplorer.Clear();
        out.removed.push_back(std::move(p));
      }
    }
  }
  if (kv) {
    if (std::optional<XmlElement> mgr = kv->Find("MgrState")) {
      out.manager_state = 1;
      store::ReadFields(*mgr, {{"cRegisteredAssociations", &out.registered_associations},
                               {"State", &out.manager_state}});
    }
  }
  return out;
}

}  // namespace kv::service
