#include "service/site_stats.h"

#include "app/activity_log.h"
#include "store/xml_writer.h"

namespace kv::service {
namespace {
constexpr char kFile[] = "server.xml";
}  // namespace

SiteStats::SiteStats(app::DataFolder& data_folder) : folder_(data_folder) {}

SiteStats& SiteStats::Instance() {
  // Never destroyed: worker threads may still use it while the process ends.
  static SiteStats* stats = [] {
    auto* folder = new app::DataFolder(platform::SystemMachine());
    folder->SetLog(&app::ActivityLog::Instance());
    auto* made = new SiteStats(*folder);
    made->Load();
    return made;
  }();
  return *stats;
}

void SiteStats::Load() {
  if (auto doc = store::LoadStore(folder_, kFile)) {
    if (const auto server = doc->Find("Server")) ReadServerElement(*server);
  }
}

void SiteStats::ReadServerElement(const store::XmlElement& server) {
  const auto stats = server.Find("Stats");
  if (!stats) return;
  std::lock_guard lock(mutex_);
  store::ReadFields(*stats, {{"TotalNumberOfPrograms", &totals_.programs},
                             {"TotalNumberOfDevelopers", &totals_.developers},
                             {"TotalNumberOfUsers", &totals_.users},
                             {"NumberOfNews", &totals_.news}});
}

void SiteStats::Save() {
  const SiteTotals t = totals();
  store::SaveStore(folder_, kFile, [&t](store::XmlWriter& w) {
    w.Open("", "Server");
    w.Open(" ", "Stats");
    w.Int32("  ", "TotalNumberOfPrograms", t.programs);
    w.Int32("  ", "TotalNumberOfDevelopers", t.developers);
    w.Int32("  ", "TotalNumberOfUsers", t.users);
    w.Int32("  ", "NumberOfNews", t.news);
    w.Close(" ", "Stats");
    w.Close("", "Server");
  }).IgnoreError();
}

SiteTotals SiteStats::totals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

}  // namespace kv::service
