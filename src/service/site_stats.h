#pragma once
// The site's totals as the last check brought them, kept in "server.xml"
// (root `Server`, container `Stats`) for the main window's statistics panel.
#include <cstdint>
#include <mutex>

#include "app/data_folder.h"
#include "store/xml_store.h"

namespace kv::service {

struct SiteTotals {
  std::int32_t programs = -1;  // -1: never loaded
  std::int32_t developers = 0;
  std::int32_t users = 0;
  std::int32_t news = 0;
};

class SiteStats {
 public:
  explicit SiteStats(app::DataFolder& data_folder);
  SiteStats(const SiteStats&) = delete;
  SiteStats& operator=(const SiteStats&) = delete;

  // The process-wide statistics on the system machine, loaded on first use.
  static SiteStats& Instance();

  void Load();
  // Reads a `Server` element (of the file, or of a check's answer): the
  // `Stats` children present replace the stored values.
  void ReadServerElement(const store::XmlElement& server);
  void Save();
  SiteTotals totals() const;

 private:
  app::DataFolder& folder_;
  mutable std::mutex mutex_;  // the check worker writes, the window reads
  SiteTotals totals_;
};

}  // namespace kv::service
