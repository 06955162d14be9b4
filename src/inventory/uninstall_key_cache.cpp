#include "inventory/uninstall_key_cache.h"

#include <charconv>

#include "store/xml_store.h"
#include "text/utf8.h"

namespace kv::inventory {
namespace {

using platform::FileInfo;
using Proof = UninstallKeyCache::Proof;
using KeyId = UninstallKeyCache::KeyId;
using Record = UninstallKeyCache::Record;

// Bumped whenever a record's meaning changes, so old files are dropped.
constexpr std::string_view kLayout = "1";
constexpr std::string_view kRoot = "UninstallKeyScan";

std::string AttributesText(const std::optional<FileInfo>& info) {
  if (!info) return {};
  return std::string(info->directory ? "d" : "f") + (info->hidden ? "h" : "");
}

// "X:\..." with backslashes only and no "." or ".." parts: the only paths
// whose long form the folder times can vouch for.
bool IsPlainDrivePath(std::string_view path) {
  if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return false;
  if (path.find('/') != std::string_view::npos) return false;
  for (std::size_t pos = 3; pos <= path.size();) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    if (part == "." || part == "..") return false;
    pos = end + 1;
  }
  return true;
}

}  // namespace

// The ports an entry is derived through: the file-system and shell answers
// it uses become proofs. Any other call makes the record unprovable, so it
// is never reused rather than reused on a guess.
class UninstallKeyScan::Recorder final : public platform::FileSystem,
                                                public platform::Shell {
 public:
  Recorder(UninstallKeyScan& scan, platform::Machine& real)
      : scan_(scan), real_(real), machine_{real.registry, *this, *this, real.clock, real.ids} {}

  platform::Machine& machine() { return machine_; }
  void Begin() {
    proofs_.clear();
    trusted_ = true;
  }
  std::vector<Proof> TakeProofs() { return std::move(proofs_); }
  bool trusted() const { return trusted_; }

  // FileSystem
  std::optional<FileInfo> GetInfo(std::string_view path) override {
    const std::string p(path);
    std::optional<FileInfo> info = scan_.Info(p);
    proofs_.push_back({Proof::Kind::Attributes, p, {}, AttributesText(info)});
    return info;
  }
  std::string LongPath(std::string_view path) override {
    std::string out = real_.files.LongPath(path);
    if (!IsPlainDrivePath(path)) {
      trusted_ = false;
      return out;
    }
    // The long form spells each part as its folder lists it; a folder's
    // time moves when a name in it is added, removed or renamed.
    std::string_view rest = path;
    while (rest.size() > 3 && rest.back() == '\\') rest.remove_suffix(1);
    for (std::size_t cut = rest.find('\\'); cut != std::string_view::npos;
         cut = rest.find('\\', cut + 1)) {
      Proof proof{Proof::Kind::FolderTime, std::string(rest.substr(0, cut + 1)), {}, {}};
      proof.expected = scan_.Answer(proof);
      const std::optional<FileInfo> info = scan_.Info(proof.subject);
      if (info && info->last_write + UninstallKeyCache::kSettleTicks > scan_.now_) trusted_ = false;
      proofs_.push_back(std::move(proof));
      if (!info || !info->directory) break;
    }
    return out;
  }
  platform::Result<std::string> ReadAll(std::string_view path) override {
    trusted_ = false;
    return real_.files.ReadAll(path);
  }
  platform::Result<std::unique_ptr<platform::WritableFile>> OpenWrite(
      std::string_view path, platform::OpenMode mode) override {
    trusted_ = false;
    return real_.files.OpenWrite(path, mode);
  }
  platform::Status Delete(std::string_view path) override {
    trusted_ = false;
    return real_.files.Delete(path);
  }
  platform::Status Move(std::string_view from, std::string_view to, bool replace) override {
    trusted_ = false;
    return real_.files.Move(from, to, replace);
  }
  platform::Status Copy(std::string_view from, std::string_view to, bool fail) override {
    trusted_ = false;
    return real_.files.Copy(from, to, fail);
  }
  platform::CreateDirResult MakeDirectory(std::string_view path) override {
    trusted_ = false;
    return real_.files.MakeDirectory(path);
  }
  platform::Status RemoveFolder(std::string_view path) override {
    trusted_ = false;
    return real_.files.RemoveFolder(path);
  }
  std::vector<platform::FolderEntry> ListFolder(std::string_view folder,
                                                std::string_view pattern) override {
    trusted_ = false;
    return real_.files.ListFolder(folder, pattern);
  }
  std::string CurrentDirectory() override {
    trusted_ = false;
    return real_.files.CurrentDirectory();
  }
  std::string TempFolder() override {
    trusted_ = false;
    return real_.files.TempFolder();
  }
  std::optional<std::string> CreateTempFile(std::string_view folder,
                                            std::string_view prefix) override {
    trusted_ = false;
    return real_.files.CreateTempFile(folder, prefix);
  }

  // Shell
  std::string ExpandEnvironment(std::string_view text) override {
    Proof proof{Proof::Kind::Expand, std::string(text), {}, {}};
    proof.expected = scan_.Answer(proof);
    std::string out = proof.expected;
    proofs_.push_back(std::move(proof));
    return out;
  }
  std::optional<std::string> FindOnSearchPath(std::string_view name,
                                              std::string_view extension) override {
    Proof proof{Proof::Kind::Search, std::string(name), std::string(extension), {}};
    proof.expected = scan_.Answer(proof);
    std::optional<std::string> out;
    if (!proof.expected.empty() && proof.expected[0] == '+') out = proof.expected.substr(1);
    proofs_.push_back(std::move(proof));
    return out;
  }
  std::optional<std::string> GetFolder(platform::SpecialFolder folder) override {
    trusted_ = false;
    return real_.shell.GetFolder(folder);
  }
  std::string ExecutablePath() override {
    trusted_ = false;
    return real_.shell.ExecutablePath();
  }
  long Execute(std::string_view verb, std::string_view file, std::string_view parameters,
               platform::ShowCommand show, bool on_desktop_window) override {
    trusted_ = false;
    return real_.shell.Execute(verb, file, parameters, show, on_desktop_window);
  }
  std::optional<std::string> ReadVersionResource(std::string_view path) override {
    trusted_ = false;
    return real_.shell.ReadVersionResource(path);
  }
  std::optional<std::string> AdvertisedShortcutTarget(std::string_view link_path) override {
    trusted_ = false;
    return real_.shell.AdvertisedShortcutTarget(link_path);
  }
  std::optional<platform::ShellLinkTarget> ReadShellLink(std::string_view link_path) override {
    trusted_ = false;
    return real_.shell.ReadShellLink(link_path);
  }
  std::unique_ptr<platform::Icon> ExtractFileIcon(std::string_view file, int index,
                                                  platform::IconSize size) override {
    trusted_ = false;
    return real_.shell.ExtractFileIcon(file, index, size);
  }
  std::optional<std::string> ReadIconGroupFile(std::string_view module, int index) override {
    trusted_ = false;
    return real_.shell.ReadIconGroupFile(module, index);
  }
  platform::UserLocale UserDefaultLocale() override { return real_.shell.UserDefaultLocale(); }

 private:
  UninstallKeyScan& scan_;
  platform::Machine& real_;
  platform::Machine machine_;
  std::vector<Proof> proofs_;
  bool trusted_ = true;
};

void UninstallKeyCache::Clear() {
  if (!records_.empty()) changed_ = true;
  records_.clear();
}

UninstallKeyScan::UninstallKeyScan(UninstallKeyCache& cache, platform::Machine& machine,
                              std::string_view windows_folder)
    : cache_(cache), machine_(machine), now_(machine.clock.NowUtc()) {
  if (cache_.windows_folder_ != windows_folder) {
    cache_.Clear();
    cache_.windows_folder_ = std::string(windows_folder);
  }
  ++cache_.scans_;
  cache_.reused_ = cache_.read_ = 0;
}

UninstallKeyScan::~UninstallKeyScan() {
  // Subkeys this scan did not meet are gone.
  for (auto it = cache_.records_.begin(); it != cache_.records_.end();) {
    if (it->second.seen == cache_.scans_) {
      ++it;
    } else {
      it = cache_.records_.erase(it);
      cache_.changed_ = true;
    }
  }
}

std::optional<FileInfo> UninstallKeyScan::Info(const std::string& path) {
  auto it = info_.find(path);
  if (it == info_.end()) it = info_.emplace(path, machine_.files.GetInfo(path)).first;
  return it->second;
}

// Attributes: "" (missing), "f" or "d", then "h" when hidden. FolderTime:
// the same, ":" and the last-write time. Search: "+" and the path, or "-".
// Expand: the expanded text.
std::string UninstallKeyScan::Answer(const Proof& proof) {
  const std::string tag(1, static_cast<char>('0' + static_cast<int>(proof.kind)));
  auto key = std::make_pair(tag + proof.subject, proof.extension);
  if (auto it = answers_.find(key); it != answers_.end()) return it->second;
  std::string answer;
  switch (proof.kind) {
    case Proof::Kind::Attributes: answer = AttributesText(Info(proof.subject)); break;
    case Proof::Kind::FolderTime: {
      const std::optional<FileInfo> info = Info(proof.subject);
      answer = AttributesText(info);
      if (info) answer += ":" + std::to_string(info->last_write);
      break;
    }
    case Proof::Kind::Search: {
      const std::optional<std::string> found =
          machine_.shell.FindOnSearchPath(proof.subject, proof.extension);
      answer = found ? "+" + *found : "-";
      break;
    }
    case Proof::Kind::Expand: answer = machine_.shell.ExpandEnvironment(proof.subject); break;
  }
  answers_.emplace(std::move(key), answer);
  return answer;
}

const std::optional<UninstallEntry>* UninstallKeyScan::Reuse(
    platform::RootKey root, platform::RegView view, const platform::SubKeyInfo& key) {
  auto it = cache_.records_.find(KeyId{static_cast<int>(root), static_cast<int>(view), key.name});
  if (it == cache_.records_.end() || it->second.last_write != key.last_write) return nullptr;
  for (const Proof& proof : it->second.proofs)
    if (Answer(proof) != proof.expected) return nullptr;
  it->second.seen = cache_.scans_;
  ++cache_.reused_;
  return &it->second.entry;
}

platform::Machine& UninstallKeyScan::recorder() {
  if (!recorder_) recorder_ = std::make_unique<Recorder>(*this, machine_);
  recorder_->Begin();
  return recorder_->machine();
}

void UninstallKeyScan::Store(platform::RootKey root, platform::RegView view,
                                    const platform::SubKeyInfo& key,
                                    std::optional<UninstallEntry> entry) {
  const KeyId id{static_cast<int>(root), static_cast<int>(view), key.name};
  cache_.changed_ = true;
  ++cache_.read_;
  // A record made too close to a change, or from an answer that has no
  // proof, is read afresh next time.
  if (!recorder_ || !recorder_->trusted() || key.last_write + UninstallKeyCache::kSettleTicks > now_) {
    cache_.records_.erase(id);
    return;
  }
  Record& r = cache_.records_[id];
  r.last_write = key.last_write;
  r.entry = std::move(entry);
  r.proofs = recorder_->TakeProofs();
  r.seen = cache_.scans_;
}

// The file

namespace {

// Text the XML file gives back exactly: valid UTF-8 without control characters.
bool Storable(std::string_view s) {
  if (!text::IsValidUtf8(s)) return false;
  for (unsigned char c : s)
    if (c < 0x20) return false;
  return true;
}

struct EntryField {
  std::string_view tag;
  std::string UninstallEntry::*field;
};

constexpr EntryField kEntryFields[] = {
    {"Id", &UninstallEntry::Id},
    {"DisplayName", &UninstallEntry::DisplayName},
    {"DisplayVersion", &UninstallEntry::DisplayVersion},
    {"Publisher", &UninstallEntry::Publisher},
    {"InstallLocation", &UninstallEntry::InstallLocation},
    {"DisplayIcon", &UninstallEntry::DisplayIcon},
    {"IconGroup", &UninstallEntry::IconGroup},
    {"Contact", &UninstallEntry::Contact},
    {"HelpLink", &UninstallEntry::HelpLink},
    {"InstallDate", &UninstallEntry::InstallDate},
    {"InstallSource", &UninstallEntry::InstallSource},
    {"URLInfoAbout", &UninstallEntry::URLInfoAbout},
    {"URLUpdateInfo", &UninstallEntry::URLUpdateInfo},
    {"AppFolder", &UninstallEntry::AppFolder},
};

bool Storable(const UninstallKeyCache::KeyId& id, const UninstallKeyCache::Record& r) {
  if (!Storable(std::get<2>(id))) return false;
  for (const Proof& p : r.proofs)
    if (!Storable(p.subject) || !Storable(p.extension) || !Storable(p.expected)) return false;
  if (!r.entry) return true;
  for (const EntryField& f : kEntryFields)
    if (!Storable((*r.entry).*f.field)) return false;
  return Storable(r.entry->UninstallString.Path) && Storable(r.entry->UninstallString.Arguments);
}

template <typename T>
bool ParseNumber(std::string_view s, T& out) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

platform::Status UninstallKeyCache::Save(app::DataFolder& folder) {
  if (!changed_) return {};
  platform::Status status = store::SaveStore(folder, kUninstallKeyCacheFile, [&](store::XmlWriter& w) {
    w.Open("", kRoot, {{"Layout", kLayout}, {"Windows", windows_folder_}});
    for (const auto& [id, r] : records_) {
      if (!Storable(id, r)) continue;
      const std::string root = std::to_string(std::get<0>(id));
      const std::string view = std::to_string(std::get<1>(id));
      const std::string time = std::to_string(r.last_write);
      w.Open(" ", "Key", {{"Root", root}, {"View", view}, {"Name", std::get<2>(id)}, {"Time", time}});
      if (r.entry) {
        w.Open("  ", "Entry");
        for (const EntryField& f : kEntryFields)
          if (!((*r.entry).*f.field).empty()) w.Text("   ", f.tag, (*r.entry).*f.field);
        if (!r.entry->UninstallString.Path.empty())
          w.Text("   ", "UninstallPath", r.entry->UninstallString.Path);
        if (!r.entry->UninstallString.Arguments.empty())
          w.Text("   ", "UninstallArguments", r.entry->UninstallString.Arguments);
        w.Close("  ", "Entry");
      }
      for (const Proof& p : r.proofs) {
        const std::string kind = std::to_string(static_cast<int>(p.kind));
        w.Text("  ", "Proof", p.expected,
               {{"Kind", kind}, {"Subject", p.subject}, {"Extension", p.extension}});
      }
      w.Close(" ", "Key");
    }
    w.Close("", kRoot);
  });
  if (status) changed_ = false;
  return status;
}

void UninstallKeyCache::Load(app::DataFolder& folder) {
  records_.clear();
  changed_ = false;
  const platform::Result<store::XmlDocument> doc = store::LoadStore(folder, kUninstallKeyCacheFile);
  if (!doc) return;
  const store::XmlElement root = doc->Root();
  if (root.Name() != kRoot || root.Attribute("Layout") != std::string(kLayout)) return;
  windows_folder_ = root.Attribute("Windows").value_or("");
  for (store::XmlElement key : root.Children()) {
    int root_key = 0, view = 0;
    Record r;
    const std::optional<std::string> name = key.Attribute("Name");
    if (!name || !ParseNumber(key.Attribute("Root").value_or(""), root_key) ||
        !ParseNumber(key.Attribute("View").value_or(""), view) ||
        !ParseNumber(key.Attribute("Time").value_or(""), r.last_write))
      continue;
    bool ok = true;
    for (store::XmlElement part : key.Children()) {
      if (part.Name() == "Entry") {
        UninstallEntry& e = r.entry.emplace();
        for (store::XmlElement field : part.Children()) {
          const std::string_view tag = field.Name();
          if (tag == "UninstallPath") e.UninstallString.Path = field.Text();
          else if (tag == "UninstallArguments") e.UninstallString.Arguments = field.Text();
          for (const EntryField& f : kEntryFields)
            if (tag == f.tag) e.*f.field = field.Text();
        }
      } else if (part.Name() == "Proof") {
        int kind = 0;
        if (!ParseNumber(part.Attribute("Kind").value_or(""), kind) || kind < 0 ||
            kind > static_cast<int>(Proof::Kind::Expand)) {
          ok = false;
          break;
        }
        r.proofs.push_back({static_cast<Proof::Kind>(kind), part.Attribute("Subject").value_or(""),
                            part.Attribute("Extension").value_or(""), part.Text()});
      }
    }
    if (ok) records_[KeyId{root_key, view, *name}] = std::move(r);
  }
}

}  // namespace kv::inventory
