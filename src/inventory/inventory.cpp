#include "inventory/inventory.h"

#include <set>

#include "inventory/file_version_info.h"
#include "inventory/names.h"
#include "inventory/release_status.h"
#include "inventory/shortcut_matcher.h"
#include "inventory/system_folders.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

bool IsYearLike(std::int32_t v) { return v >= 2000 && v <= 2015; }

// Takes `candidate` when it orders above `version`; a tie keeps the current value.
void TakeIfLarger(ProgramVersion& version, const ProgramVersion& candidate) {
  if (IsOlderVersion(version, candidate)) version = candidate;
}

bool IsIgnoredPublisher(const std::string& publisher) {
  return publisher.empty() || publisher == "Microsoft Corporation" || publisher == "Microsoft";
}

}  // namespace

Inventory::Inventory(platform::Machine& machine, app::DataFolder& data_folder,
                     app::ProgressTracker& progress, UninstallKeyCache* keys)
    : machine_(machine),
      progress_(progress),
      scanner_(machine, data_folder, UninstallScanner::Caching::Off, keys),
      tree_(machine, data_folder, progress) {}

std::vector<FixedProgram> Inventory::FixedPrograms() const {
  const std::string pf = ReadSystemFolders(machine_.shell).program_files;
  return {
      {machine_.shell.ExecutablePath(), "Korvan", "Tavrin Technologies, Inc."},
      {pf + "Internet Explorer\\iexplore.exe", "Internet Explorer", "Microsoft Corporation"},
      {pf + "Windows Media Player\\wmplayer.exe", "Windows Media Player", "Microsoft Corporation"},
      {pf + "Windows Defender\\msascui.exe", "Windows Defender", "Microsoft Corporation"},
  };
}

void Inventory::AddFixedPrograms() {
  bool own = true;
  for (const FixedProgram& fixed : FixedPrograms()) {
    FileVersionInfo info;
    const bool read = info.Read(machine_.shell, fixed.executable);
    const bool is_own = own;
    own = false;
    if (!read) continue;
    ProgramRecord r;
    r.Name = fixed.name;
    r.Publisher = fixed.publisher;
    r.ReleaseStatus =
        is_own && info.ProductVersion.find("BETA") != std::string::npos ? "Beta" : "Release";
    r.Version = info.FixedProductVersion;
    r.IconFile = fixed.executable;
    r.cmdline.Split(machine_, fixed.executable, false);
    programs_.push_back(std::move(r));
  }
}

void Inventory::RestoreFixedVersion(ShortcutNode& node) {
  if (!node.Binary || !node.BinaryFromCache) return;
  FileVersionInfo fresh;
  if (fresh.Read(machine_.shell, node.LinksTo.Path)) {
    node.Binary->FixedProductVersion = fresh.FixedProductVersion;
    node.Binary->FileVersion = fresh.FileVersion;
    node.Binary->SpecialBuild = fresh.SpecialBuild;
  }
  // The strings stay as cached (matching may already have improved them).
  node.BinaryFromCache = false;
}

ProgramRecord Inventory::BuildRecord(const UninstallEntry& e, ShortcutNode* s) {
  ProgramRecord r;
  const ProgramNameWords display(e.DisplayName, CleanMode::kName);
  const ProgramNameWords display_words(e.DisplayName);  // uncleaned, for versions in the name

  // A shortcut whose target has gone says nothing about the program.
  if (s && !s->LinksTo.Path.empty() && !machine_.files.Exists(s->LinksTo.Path)) s = nullptr;
  if (s) RestoreFixedVersion(*s);
  const FileVersionInfo* b = nullptr;
  // A Java launcher's version resource describes the runtime, not the program.
  if (s && s->Binary &&
      !(text::FindNoCase(s->LinksTo.Path, "\\javaw.exe") != std::string::npos &&
        !s->LinksTo.Arguments.empty()))
    b = s->Binary.get();
  FileVersionInfo icon_info;
  // The icon text is taken as a path unchanged: "x.exe,0" fails to read, as intended.
  if (!b && !e.DisplayIcon.empty() && icon_info.Read(machine_.shell, e.DisplayIcon)) b = &icon_info;

  if (s && !s->Name.empty()) {
    const std::size_t at = e.DisplayName.find(s->Name);
    if (at != std::string::npos) {
      r.Name = e.DisplayName.substr(0, at) + s->Name;
      if (at != 0) r.ShortName = s->Name;
    }
  }
  if (r.Name.empty() && b && !b->ProductName.empty()) {
    const ProgramNameWords product(b->ProductName, CleanMode::kName);
    if (NameSimilarity(display.words, product.words) > 98) {
      const std::size_t at = e.DisplayName.find(b->ProductName);
      if (at != std::string::npos) {
        r.Name = e.DisplayName.substr(0, at) + b->ProductName;
        if (at != 0) r.ShortName = b->ProductName;
      } else {
        r.Name = b->ProductName;
      }
    }
  }

  if (b) {
    ParseVersion(b->ProductVersion, r.Version);
    TakeIfLarger(r.Version, b->FixedProductVersion);
  }
  ProgramVersion displayed;
  ParseVersion(e.DisplayVersion, displayed);
  TakeIfLarger(r.Version, displayed);
  ProgramVersion from_name = displayed;
  FindVersionInName(display_words, from_name);
  TakeIfLarger(r.Version, from_name);

  if (!r.Name.empty()) {
    r.Name = StripVersionFromName(Tokenize(r.Name), r.Version);
  } else {
    const NameWords stripped = Tokenize(StripVersionFromName(display_words, r.Version));
    WordList kept;
    for (const auto& w : stripped.words)
      if (!text::EqualsNoCase(w, "Uninstall")) kept.push_back(w);
    r.Name = JoinWords(kept);
  }

  r.IconFile = e.DisplayIcon;
  r.IconFileIsUninstaller = text::EqualsNoCase(r.IconFile, e.UninstallString.Path);
  r.Entry = &e;
  r.Shortcut = s;
  if (s) r.cmdline = s->LinksTo;

  r.Publisher = e.Publisher;
  // Only from the shortcut's resource when that describes the program: not
  // the runtime's company under the launcher rule.
  if (r.Publisher.empty() && s && b && b == s->Binary.get()) r.Publisher = b->CompanyName;

  ReleaseStatusInput in;
  in.display_name = e.DisplayName;
  in.display_version = e.DisplayVersion;
  if (b) {
    in.file_description = b->FileDescription;
    in.product_version = b->ProductVersion;
    in.internal_name = b->InternalName;
    in.product_name = b->ProductName;
    in.file_version = b->FileVersion;
    in.special_build = b->SpecialBuild;
  }
  in.version = r.Version;
  r.ReleaseStatus = DetermineReleaseStatus(in);

  // The entry's own version wins when the major numbers disagree, except
  // against a year-like number.
  ProgramVersion own;
  if (!ParseVersion(e.DisplayVersion, own)) FindVersionInName(display_words, own);
  if (!r.Version.IsPresent()) {
    r.Version = own;
  } else if (own.IsPresent()) {
    const std::int32_t u = own.components.front().value;
    const std::int32_t v = r.Version.components.front().value;
    if (u != v && !(IsYearLike(u) && !IsYearLike(v))) r.Version = own;
  }
  return r;
}

void Inventory::Run() {
  programs_.clear();
  ignored_.clear();
  scanner_.Scan();
  progress_.begin(2);
  tree_.LoadCache();
  tree_.Scan(scanner_);
  tree_.SaveCache();
  progress_.advance();

  const auto& entries = scanner_.entries();
  progress_.begin(static_cast<unsigned>(entries.size()));
  AddFixedPrograms();
  matcher_.MatchAll(entries);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ProgramRecord r = BuildRecord(entries[i], matcher_.Chosen(i));
    const bool ignored = r.cmdline.Path.empty() && IsIgnoredPublisher(entries[i].Publisher);
    (ignored ? ignored_ : programs_).push_back(std::move(r));
    progress_.advance();
  }
  progress_.end();

  // The first record of a name stays, so the fixed programs win.
  std::vector<ProgramRecord> unique;
  std::set<std::string, text::LessNoCase> names;
  for (auto& r : programs_)
    if (names.insert(r.Name).second) unique.push_back(std::move(r));
  programs_ = std::move(unique);

  progress_.advance();
  progress_.end();
}

}  // namespace kv::inventory
