#include "inventory/uninstall_scanner.h"

#include <optional>
#include <stdexcept>

#include "inventory/uninstall_cache.h"
#include "inventory/uninstall_key_cache.h"
#include "inventory/version.h"
#include "text/compare.h"
#include "text/utf8.h"

namespace kv::inventory {
namespace {

using platform::RegType;
using platform::RegView;
using platform::RootKey;

// The ANSI client read every value into a buffer of this many bytes (the
// terminating zero included) and names into 260 characters; longer ones
// counted as absent. The same limits hold here on UTF-8 text.
constexpr std::size_t kValueBuffer = 1000;
constexpr std::size_t kNameBuffer = 260;
constexpr std::size_t kPathBuffer = 260;

std::size_t Utf16Length(std::string_view s) { return text::ToUtf16(s).size(); }

// A value as text whatever type the registry reports: strings up to their
// first zero, binary data holding text likewise; numbers are not text.
std::optional<std::string> ReadText(platform::RegistryKey& key, std::string_view name) {
  std::optional<platform::RegValue> v = key.Read(name);
  if (!v) return std::nullopt;
  std::string text;
  if (v->IsText()) {
    text = std::move(v->text);
  } else if (v->type == RegType::Binary) {
    text.assign(v->bytes.begin(), v->bytes.end());
    if (!text::IsValidUtf8(text)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (text.size() >= kValueBuffer) return std::nullopt;
  if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

// "SystemComponent" is a DWORD; other types are read by their value rather
// than their bytes, so that a text "0" does not hide an entry.
bool IsSystemComponent(platform::RegistryKey& key) {
  std::optional<platform::RegValue> v = key.Read("SystemComponent");
  if (!v) return false;
  switch (v->type) {
    case RegType::Dword:
    case RegType::Qword: return v->number != 0;
    case RegType::Binary: {
      for (std::size_t i = 0; i < v->bytes.size() && i < 4; ++i)
        if (v->bytes[i] != 0) return true;
      return false;
    }
    case RegType::None: return false;
    default: {
      std::size_t i = 0;
      while (i < v->text.size() && v->text[i] == ' ') ++i;
      while (i < v->text.size() && v->text[i] == '0') ++i;
      return i < v->text.size() && v->text[i] >= '1' && v->text[i] <= '9';
    }
  }
}

std::string TrimBlanks(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

std::string ReadTrimmed(platform::RegistryKey& key, std::string_view name) {
  std::optional<std::string> v = ReadText(key, name);
  return v ? TrimBlanks(*v) : std::string();
}

// The long form of a path holding a short "~" name; the path itself when the
// conversion gives nothing or more than a path buffer holds. A trailing
// backslash is kept.
std::string LongFormOfShortName(platform::FileSystem& files, std::string path) {
  if (path.find('~') == std::string::npos) return path;
  std::string longer = files.LongPath(path);
  if (longer.empty() || Utf16Length(longer) >= kPathBuffer) return path;
  if (path.back() == '\\' && longer.back() != '\\') longer += '\\';
  return longer;
}

// The rule of AppFolderFromUninstaller on the given file system.
std::string AppFolderOf(platform::FileSystem& files, const std::string& windows,
                        std::string_view uninstaller_path) {
  const std::size_t cut = uninstaller_path.rfind('\\');
  if (cut == std::string_view::npos) return {};
  std::string folder =
      LongFormOfShortName(files, std::string(uninstaller_path.substr(0, cut + 1)));
  // An uninstaller kept in the Windows folder says nothing about the program's folder.
  if (!windows.empty() && text::StartsWithNoCase(folder, windows)) return {};
  if (!files.Exists(folder)) return {};
  // A program living below a hidden folder is not one the user sees.
  for (std::size_t i = 3; i < folder.size(); ++i) {
    if (folder[i] != '\\') continue;
    const std::optional<platform::FileInfo> info = files.GetInfo(folder.substr(0, i + 1));
    if (!info || info->hidden) return {};
  }
  return folder;
}

}  // namespace

UninstallScanner::UninstallScanner(platform::Machine& machine, app::DataFolder& data_folder,
                                   Caching caching, UninstallKeyCache* keys)
    : machine_(machine),
      data_folder_(data_folder),
      caching_(caching),
      folders_(ReadSystemFolders(machine.shell)),
      own_keys_(keys ? nullptr : std::make_unique<UninstallKeyCache>()),
      keys_(keys ? keys : own_keys_.get()) {}

UninstallScanner::~UninstallScanner() = default;

bool UninstallScanner::Scan() {
  entries_.clear();
  by_name_.clear();
  UninstallKeyScan scan(*keys_, machine_, folders_.windows);
  // A 64-bit client sees 32-bit programs only in HKLM's 32-bit view.
  ScanKey(RootKey::LocalMachine, RegView::View64, scan);
  ScanKey(RootKey::LocalMachine, RegView::View32, scan);
  ScanKey(RootKey::CurrentUser, RegView::Native, scan);
  by_name_.clear();
  IndexIds();
  return !entries_.empty();
}

void UninstallScanner::ScanKey(RootKey root, RegView view, UninstallKeyScan& scan) {
  auto list =
      machine_.registry.Open(root, kUninstallKeyPath, view);
  if (!list) return;
  for (const platform::SubKeyInfo& sub : list->SubKeys()) {
    const std::string& id = sub.name;
    // A name that the Win32 enumeration cannot return whole (too long, or
    // with a zero inside, as a replayed export may hold) is skipped; it
    // does not end the whole list.
    if (id.empty() || id.find('\0') != std::string::npos || Utf16Length(id) >= kNameBuffer)
      continue;
    if (const std::optional<UninstallEntry>* kept = scan.Reuse(root, view, sub)) {
      if (*kept) Add(**kept);
      continue;
    }
    auto key =
        machine_.registry.Open(root, std::string(kUninstallKeyPath) + "\\" + id, view);
    if (!key) continue;  // gone since the listing; nothing to remember
    std::optional<UninstallEntry> e = ReadEntry(scan.recorder(), *key, id);
    if (e) Add(*e);
    scan.Store(root, view, sub, std::move(e));
  }
}

std::optional<UninstallEntry> UninstallScanner::ReadEntry(platform::Machine& machine,
                                                          platform::RegistryKey& key,
                                                          const std::string& id) const {
  if (IsSystemComponent(key)) return std::nullopt;
  UninstallEntry e;
  e.Id = id;
  e.DisplayName = ReadTrimmed(key, "DisplayName");
  if (e.DisplayName.empty()) return std::nullopt;
  const std::optional<std::string> uninstall = ReadText(key, "UninstallString");
  if (!uninstall) return std::nullopt;
  e.UninstallString.Split(machine, *uninstall, true);
  if (e.UninstallString.Path.empty()) return std::nullopt;

  e.DisplayVersion = ReadTrimmed(key, "DisplayVersion");
  e.InstallLocation = ReadText(key, "InstallLocation").value_or("");
  e.Publisher = ReadTrimmed(key, "Publisher");
  e.DisplayIcon = ReadTrimmed(key, "DisplayIcon");
  e.IconGroup = ReadText(key, "Inno Setup: Icon Group").value_or("");
  e.Contact = ReadTrimmed(key, "Contact");
  e.HelpLink = ReadTrimmed(key, "HelpLink");
  e.InstallDate = ReadTrimmed(key, "InstallDate");
  e.InstallSource = ReadTrimmed(key, "InstallSource");
  e.URLInfoAbout = ReadTrimmed(key, "URLInfoAbout");
  e.URLUpdateInfo = ReadTrimmed(key, "URLUpdateInfo");

  std::string& location = e.InstallLocation;
  if (!location.empty() && location.front() == '"') {
    // The closing quote is taken to be the last character.
    location.pop_back();
    if (!location.empty()) location.erase(0, 1);
  }
  location = LongFormOfShortName(machine.files, location);

  e.AppFolder = location;
  if (!e.AppFolder.empty() && e.AppFolder.back() != '\\') e.AppFolder += '\\';
  if (e.AppFolder.empty())
    e.AppFolder = AppFolderOf(machine.files, folders_.windows, e.UninstallString.Path);
  return e;
}

void UninstallScanner::Add(UninstallEntry entry) {
  const auto [it, added] = by_name_.try_emplace(text::FoldCase(entry.DisplayName), entries_.size());
  if (!added) {
    UninstallEntry& earlier = entries_[it->second];
    ProgramVersion old_version, new_version;
    ParseVersion(earlier.DisplayVersion, old_version);
    ParseVersion(entry.DisplayVersion, new_version);
    if (IsOlderVersion(old_version, new_version)) earlier.DisplayVersion = entry.DisplayVersion;
    if (!entry.Publisher.empty()) earlier.Publisher = entry.Publisher;
    return;
  }
  entries_.push_back(std::move(entry));
}

void UninstallScanner::IndexIds() {
  by_id_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    by_id_.try_emplace(entries_[i].Id, static_cast<int>(i));
}

std::string UninstallScanner::AppFolderFromUninstaller(std::string_view uninstaller_path) const {
  return AppFolderOf(machine_.files, folders_.windows, uninstaller_path);
}

const UninstallEntry& UninstallScanner::At(std::size_t index) const {
  if (index >= entries_.size())
    throw std::out_of_range("UninstallScanner::At(" + std::to_string(index) + ") with " +
                            std::to_string(entries_.size()) + " entries");
  return entries_[index];
}

int UninstallScanner::FindById(std::string_view id) const {
  const auto it = by_id_.find(std::string(id));
  return it == by_id_.end() ? -1 : it->second;
}

void UninstallScanner::LoadCache() {
  if (!entries_.empty() || caching_ == Caching::Off) return;
  for (UninstallEntry& e : LoadUninstallCache(data_folder_)) {
    if (e.DisplayName.empty()) continue;
    if (e.AppFolder.empty() && !e.UninstallString.Path.empty())
      e.AppFolder = AppFolderFromUninstaller(e.UninstallString.Path);
    entries_.push_back(std::move(e));
  }
  IndexIds();
}

void UninstallScanner::SaveCache() {
  // Saves are silent: a cache that cannot be written is rebuilt next time.
  if (caching_ == Caching::InDataFolder) SaveUninstallCache(data_folder_, entries_).IgnoreError();
}

bool UninstallScanner::SameAs(const UninstallScanner& other) const {
  if (entries_.size() != other.entries_.size()) return false;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const UninstallEntry& a = entries_[i];
    const UninstallEntry& b = other.entries_[i];
    if (a.Id != b.Id || a.DisplayName != b.DisplayName || a.DisplayVersion != b.DisplayVersion)
      return false;
  }
  return true;
}

}  // namespace kv::inventory
