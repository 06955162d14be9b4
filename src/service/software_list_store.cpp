#include "service/software_list_store.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "app/activity_log.h"
#include "service/icon_cache.h"
#include "service/program_icon.h"
#include "service/software_list_file.h"
#include "store/xml_store.h"
#include "text/compare.h"

namespace kv::service {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

std::string KeyOf(const inventory::ProgramRecord& record) {
  return record.Entry ? record.Entry->Id : "/" + record.Name;
}

}  // namespace

SoftwareListStore::SoftwareListStore(platform::Machine& machine, app::DataFolder& data_folder,
                                     app::ProgressTracker& progress)
    : machine_(machine),
      data_folder_(data_folder),
      progress_(progress),
      scanner_(machine, data_folder, inventory::UninstallScanner::Caching::InDataFolder, &keys_),
      comments_(data_folder) {}

SoftwareListStore& SoftwareListStore::Instance() {
  // Never destroyed: worker threads may still use it while the process ends.
  static app::DataFolder* folder = [] {
    auto* f = new app::DataFolder(platform::SystemMachine());
    f->SetLog(&app::ActivityLog::Instance());
    return f;
  }();
  static SoftwareListStore* store = new SoftwareListStore(platform::SystemMachine(), *folder);
  return *store;
}

// Load

void SoftwareListStore::Load() {
  Lock lock(mutex_);
  // Once per object: a list that holds only removed programs must not read
  // them in a second time.
  if (!installed_.empty() || loaded_) return;
  loaded_ = true;
  scanner_.LoadCache();
  keys_.Load(data_folder_);
  comments_.Load();
  // The icon cache folder; the file itself is never created.
  data_folder_.GetDataFilePath("cache\\icons\\1.dat");

  if (platform::Result<store::XmlDocument> doc = store::LoadStore(data_folder_, kSoftwareListFile)) {
    SoftwareListContents contents = ReadSoftwareList(*doc, machine_);
    installed_ = std::move(contents.installed);
    removed_ = std::move(contents.removed);
    registered_associations_ = contents.registered_associations;
    manager_state_ = contents.manager_state;
    if (contents.rescan_needed) rescan_needed_ = true;
    // What a save of this list writes; equal to the file when we wrote it.
    file_text_ = Document();
  }
  LinkEntries();
  // A start on an unchanged machine merges nothing, and the list still shows icons.
  for (const SoftwarePtr& p : installed_) LoadIcons(*p);
  if (!rescan_needed_) CheckExecutables();
}

void SoftwareListStore::LinkEntries() {
  for (const SoftwarePtr& p : installed_) {
    const int i = scanner_.FindById(p->LocalId);
    if (i >= 0) p->rti.Entry = scanner_.At(static_cast<std::size_t>(i));
    else p->rti.Entry.reset();
  }
}

bool SoftwareListStore::CheckExecutables() {
  for (const SoftwarePtr& p : installed_) {
    const std::string& path = p->rti.cmdline.Path;
    if (path.empty()) continue;
    // Attributes and time in one call; the file is not opened.
    const std::optional<platform::FileInfo> info = machine_.files.GetInfo(path);
    if (info && info->directory) continue;
    // Missing when it was last seen too: nothing changed (or every refresh
    // of a machine with one stale shortcut would merge again).
    if (!info && p->rti.ExeLastWriteTime == 0) continue;
    if (!info || info->last_write != p->rti.ExeLastWriteTime) {
      rescan_needed_ = true;
      return true;
    }
  }
  return false;
}

// Save

std::string SoftwareListStore::Document() const {
  SoftwareListContents contents;
  contents.installed = installed_;
  contents.removed = removed_;
  contents.registered_associations = registered_associations_;
  contents.manager_state = manager_state_;
  return SoftwareListDocument(contents);
}

platform::Status SoftwareListStore::Save() {
  Lock lock(mutex_);
  platform::Status status;
  std::string text = Document();
  if (text != file_text_ || !machine_.files.Exists(data_folder_.GetDataFilePath(kSoftwareListFile))) {
    status = store::SaveStoreText(data_folder_, kSoftwareListFile, text);
    if (status) file_text_ = std::move(text);
  }
  scanner_.SaveCache();
  keys_.Save(data_folder_).IgnoreError();  // silent, like the other caches
  comments_.SaveIfChanged();
  return status;
}

// Refresh

bool SoftwareListStore::MergeNeeded() {
  // An empty list is filled even on a machine without uninstall entries.
  if (rescan_needed_ || (installed_.empty() && removed_.empty())) return true;
  if (CheckExecutables()) return true;
  inventory::UninstallScanner scratch(machine_, data_folder_,
                                      inventory::UninstallScanner::Caching::Off, &keys_);
  scratch.Scan();
  return !scratch.SameAs(scanner_);
}

bool SoftwareListStore::Refresh() {
  // Held throughout: the executable check and the change test read the list.
  Lock lock(mutex_);
  progress_.begin(2);
  changes_ = RefreshChanges{};
  bool ok = true;
  if (installed_.empty()) Load();
  const bool merge = MergeNeeded();
  // The change test may have read subkeys again; the next start reuses them.
  if (!merge) keys_.Save(data_folder_).IgnoreError();
  if (merge) {
    try {
      progress_.advance();
      Merge();
      changes_.merged = true;
    } catch (const std::exception& e) {
      // The file is written only at the end of a merge, so it keeps the
      // last good list; the next refresh merges again.
      rescan_needed_ = true;
      if (app::ActivityLog* log = data_folder_.log())
        log->Write("The software list could not be refreshed: %s", e.what());
      ok = false;
    }
  }
  progress_.end();
  return ok;
}

void SoftwareListStore::Merge() {
  scanner_.Scan();
  if (!inventory_)
    inventory_ = std::make_unique<inventory::Inventory>(machine_, data_folder_, progress_, &keys_);
  inventory_->Run();
  progress_.advance();

  // Every program starts unseen; removed programs rejoin the installed list
  // so that a reinstall finds its old record.
  std::map<const SoftwareInfo*, bool> seen;
  std::map<const SoftwareInfo*, bool> was_removed;
  for (const SoftwarePtr& p : installed_) seen[p.get()] = false;
  for (SoftwarePtr& p : removed_) {
    seen[p.get()] = false;
    was_removed[p.get()] = true;
    installed_.push_back(std::move(p));
  }
  removed_.clear();
  const bool first_fill = installed_.empty();

  // LocalIds compare without regard to case; the first program wins as in a
  // linear search.
  std::map<std::u32string, std::size_t> by_local_id;
  for (std::size_t i = 0; i < installed_.size(); ++i)
    by_local_id.emplace(text::FoldCase(installed_[i]->LocalId), i);

  const platform::FileTime now = machine_.clock.NowUtc();
  for (const inventory::ProgramRecord& record : inventory_->Programs()) {
    if (!record.HasProgramInfo()) continue;
    const std::string key = KeyOf(record);
    const bool stable = record.ReleaseStatus == "Release";
    auto found = by_local_id.find(text::FoldCase(key));
    if (found == by_local_id.end()) {
      auto p = std::make_shared<SoftwareInfo>();
      p->LocalId = key;
      p->Name = record.Name;
      p->Publisher = record.Publisher;
      p->VerInstalledOfSoftwareExplorer = record.Version;
      p->VerInstalled = record.Version;
      p->VerInstalledIsStableRelease = stable;
      p->State |= state::kVersionChanged;
      CopyRunInfo(*p, record);
      p->TimeEntryAdded = now;
      if (!first_fill) p->Flags |= flag::kAddedLater;
      seen[p.get()] = true;
      by_local_id.emplace(text::FoldCase(key), installed_.size());
      changes_.added.push_back(p->Name);
      installed_.push_back(std::move(p));
      continue;
    }
    SoftwareInfo& p = *installed_[found->second];
    if (!inventory::SameVersionNumbers(record.Version, p.VerInstalledOfSoftwareExplorer)) {
      p.VerInstalledOfSoftwareExplorer = record.Version;
      p.VerInstalled = record.Version;
      p.VerInstalledIsStableRelease = stable;
      p.State |= state::kVersionChanged;
      inventory::ProgramVersion& latest = stable ? p.VerLatestStable : p.VerLatestBeta;
      if (inventory::IsOlderVersion(latest, p.VerInstalled)) latest = p.VerInstalled;
      (was_removed[&p] ? changes_.reinstalled : changes_.updated).push_back(p.Name);
    }
    if (p.Publisher.empty()) p.Publisher = record.Publisher;
    CopyRunInfo(p, record);
    seen[&p] = true;
  }

  for (const SoftwarePtr& p : installed_) {
    if (seen[p.get()]) continue;
    if (!was_removed[p.get()]) changes_.removed.push_back(p->Name);
    p->VerInstalled.Clear();
    p->VerInstalledOfSoftwareExplorer.Clear();
  }
  // The removed ones go to the removed list in the order they had, so an
  // unchanged list is written unchanged; the others get their icons.
  std::vector<SoftwarePtr> still_installed;
  for (SoftwarePtr& p : installed_) {
    if (p->IsInstalled()) {
      if (!p->rti.LargeIcon) LoadIcons(*p);
      still_installed.push_back(std::move(p));
      continue;
    }
    p->ReleaseIcons();
    p->rti.Entry.reset();
    removed_.push_back(std::move(p));
  }
  installed_ = std::move(still_installed);
  rescan_needed_ = false;
  SortInstalled();
  Save().IgnoreError();  // silent; a held or failing file keeps its last good list
}

void SoftwareListStore::CopyRunInfo(SoftwareInfo& program, const inventory::ProgramRecord& record) {
  ProgramRunInfo& r = program.rti;
  // Icons from another source are stale.
  if (r.IconFile != record.IconFile || r.IconFileIsUninstaller != record.IconFileIsUninstaller ||
      r.cmdline.Path != record.cmdline.Path) {
    program.ReleaseIcons();
    ForgetCachedIcon(machine_.files, data_folder_, program);
  }
  r.HasLiveRecord = true;
  r.LiveFileInfo.reset();
  if (record.Shortcut && record.Shortcut->Binary)
    r.LiveFileInfo = std::make_shared<const inventory::FileVersionInfo>(*record.Shortcut->Binary);
  if (record.Entry) r.Entry = *record.Entry;
  else r.Entry.reset();
  r.IconFile = record.IconFile;
  r.IconFileIsUninstaller = record.IconFileIsUninstaller;
  r.cmdline = record.cmdline;
  r.SoftName_old = record.ShortName;
  r.ExeFileSize = record.Shortcut ? record.Shortcut->FileSize : 0;
  r.ExeLastWriteTime = 0;
  if (!r.cmdline.Path.empty()) {
    const std::optional<platform::FileInfo> info = machine_.files.GetInfo(r.cmdline.Path);
    if (info && !info->directory) r.ExeLastWriteTime = info->last_write;
  }
}

void SoftwareListStore::LoadIcons(SoftwareInfo& program) {
  ProgramRunInfo& r = program.rti;
  if (r.LargeIcon) return;
  // The icon cache first (it writes the file the icon upload sends), then
  // the search for whatever the cached file did not give.
  using platform::IconSize;
  if (const std::string cached = CachedIconPath(program); !cached.empty()) {
    r.LargeIcon = machine_.shell.ExtractFileIcon(cached, 0, IconSize::Large);
    if (!r.SmallIcon) r.SmallIcon = machine_.shell.ExtractFileIcon(cached, 0, IconSize::Small);
  }
  if (!r.LargeIcon) r.LargeIcon = ExtractProgramIcon(machine_.shell, program, IconSize::Large).icon;
  if (!r.SmallIcon) r.SmallIcon = ExtractProgramIcon(machine_.shell, program, IconSize::Small).icon;
  if (!r.LargeIcon) r.LargeIcon = r.SmallIcon;
}

void SoftwareListStore::SortInstalled() {
  std::stable_sort(installed_.begin(), installed_.end(),
                   [](const SoftwarePtr& a, const SoftwarePtr& b) {
                     return text::CompareNoCase(a->Name, b->Name) < 0;
                   });
}

// Lookups

int SoftwareListStore::FindByLocalId(std::string_view local_id) const {
  Lock lock(mutex_);
  for (std::size_t i = 0; i < installed_.size(); ++i)
    if (text::EqualsNoCase(installed_[i]->LocalId, local_id)) return static_cast<int>(i);
  return -1;
}

int SoftwareListStore::FindByGlobalId(std::string_view global_id) const {
  Lock lock(mutex_);
  for (std::size_t i = 0; i < installed_.size(); ++i)
    if (text::EqualsNoCase(installed_[i]->GlobalId, global_id)) return static_cast<int>(i);
  return -1;
}

int SoftwareListStore::FindByDisplayName(std::string_view display_name) const {
  Lock lock(mutex_);
  for (std::size_t i = 0; i < installed_.size(); ++i) {
    const auto& entry = installed_[i]->rti.Entry;
    if (entry && text::EqualsNoCase(entry->DisplayName, display_name)) return static_cast<int>(i);
  }
  return -1;
}

std::size_t SoftwareListStore::Count() const {
  Lock lock(mutex_);
  return installed_.size();
}

SoftwarePtr SoftwareListStore::At(std::size_t index) const {
  Lock lock(mutex_);
  return installed_.at(index);
}

std::vector<SoftwarePtr> SoftwareListStore::Removed() const {
  Lock lock(mutex_);
  return removed_;
}

// Changes

void SoftwareListStore::SetFlag(std::size_t index, std::uint32_t bit, bool on) {
  Lock lock(mutex_);
  installed_.at(index)->SetFlag(bit, on);
}

void SoftwareListStore::ToggleFlag(std::size_t index, std::uint32_t bit) {
  Lock lock(mutex_);
  installed_.at(index)->ToggleFlag(bit);
}

void SoftwareListStore::SetUserRating(const SoftwareInfo& program, std::int32_t value) {
  Lock lock(mutex_);
  const int i = FindByLocalId(program.LocalId);
  if (i < 0) return;
  installed_[static_cast<std::size_t>(i)]->UserRating = value;
  Save().IgnoreError();
}

void SoftwareListStore::MarkUninstalled(std::size_t index) {
  Lock lock(mutex_);
  SoftwarePtr p = installed_.at(index);
  p->VerInstalled.Clear();
  p->VerInstalledOfSoftwareExplorer.Clear();
  p->ReleaseIcons();
  installed_.erase(installed_.begin() + static_cast<std::ptrdiff_t>(index));
  removed_.push_back(std::move(p));
}

void SoftwareListStore::ClearServerVersions() {
  Lock lock(mutex_);
  for (const SoftwarePtr& p : installed_) p->VerOnServer.Clear();
  Save().IgnoreError();
}

std::optional<std::size_t> SoftwareListStore::FirstProgramNeedingIcon() const {
  Lock lock(mutex_);
  for (std::size_t i = 0; i < installed_.size(); ++i)
    if (installed_[i]->State & state::kIconWanted) return i;
  return std::nullopt;
}

void SoftwareListStore::ConfirmNotificationCustomization() {
  Lock lock(mutex_);
  manager_state_ |= 0x01;
  Save().IgnoreError();
}

std::int32_t SoftwareListStore::registered_associations() const {
  Lock lock(mutex_);
  return registered_associations_;
}

void SoftwareListStore::set_registered_associations(std::int32_t n) {
  Lock lock(mutex_);
  registered_associations_ = n;
}

std::int32_t SoftwareListStore::manager_state() const {
  Lock lock(mutex_);
  return manager_state_;
}

bool SoftwareListStore::rescan_needed() const {
  Lock lock(mutex_);
  return rescan_needed_;
}

void SoftwareListStore::set_rescan_needed(bool on) {
  Lock lock(mutex_);
  rescan_needed_ = on;
}

bool SoftwareListStore::has_new_versions() const {
  Lock lock(mutex_);
  return has_new_versions_;
}

void SoftwareListStore::set_has_new_versions(bool on) {
  Lock lock(mutex_);
  has_new_versions_ = on;
}

std::vector<std::string> SoftwareListStore::unmatched_ids() const {
  Lock lock(mutex_);
  return unmatched_ids_;
}

void SoftwareListStore::set_unmatched_ids(std::vector<std::string> ids) {
  Lock lock(mutex_);
  unmatched_ids_ = std::move(ids);
}

}  // namespace kv::service
