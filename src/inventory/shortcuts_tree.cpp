#include "inventory/shortcuts_tree.h"

#include <algorithm>

#include "inventory/shortcuts_tree_cache.h"
#include "inventory/system_folders.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

using platform::FileTime;
using platform::RootKey;
using platform::SpecialFolder;

constexpr std::string_view kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr std::string_view kAdminToolsKey = "CLSID\\{D20EA4E1-3957-11d2-A40B-0C5020524153}";
constexpr std::string_view kApplicationSuffix = " Application";

struct SystemProgram {
  enum Base { ProgramFiles, System, Windows } base;
  std::string_view relative;
};

constexpr SystemProgram kKnownSystemPrograms[] = {
    {SystemProgram::ProgramFiles, "internet explorer\\iexplore.exe"},
    {SystemProgram::ProgramFiles, "Windows Media Player\\wmplayer.exe"},
    {SystemProgram::ProgramFiles, "Windows Defender\\MSASCui.exe"},
    {SystemProgram::ProgramFiles, "Outlook Express\\msimn.exe"},
    {SystemProgram::ProgramFiles, "Messenger\\msmsgs.exe"},
    {SystemProgram::ProgramFiles, "windows collaboration\\wincollab.exe"},
    {SystemProgram::ProgramFiles, "windows mail\\wab.exe"},
    {SystemProgram::ProgramFiles, "windows defender\\msascui.exe"},
    {SystemProgram::ProgramFiles, "movie maker\\dvdmaker.exe"},
    {SystemProgram::System, "wfs.exe"},
    {SystemProgram::ProgramFiles, "windows mail\\winmail.exe"},
    {SystemProgram::ProgramFiles, "movie maker\\moviemk.exe"},
    {SystemProgram::ProgramFiles, "windows photo gallery\\windowsphotogallery.exe"},
    {SystemProgram::System, "msra.exe"},
    {SystemProgram::System, "rcimlby.exe"},
    {SystemProgram::System, "wercon.exe"},
    {SystemProgram::System, "control.exe"},
    {SystemProgram::Windows, "ehome\\ehshell.exe"},
    {SystemProgram::Windows, "hh.exe"},
};

constexpr std::string_view kInstallerFileNames[] = {
    "unwise.exe",   "unvise32.exe", "msiexec.exe",  "uninstall.exe", "uninstaller.exe",
    "uninst.exe",   "uinst.exe",    "unins000.exe", "unins001.exe",  "unins002.exe",
    "unins003.exe", "setup.exe",    "UninsHs.exe",
};

bool IsExecutablePath(std::string_view path) {
  return path.size() > 5 && text::EqualsNoCase(path.substr(path.size() - 4), ".exe");
}

bool IsLinkFileName(std::string_view name) {
  return name.size() >= 4 && text::EqualsNoCase(name.substr(name.size() - 4), ".lnk");
}

// A registry text, or `fallback` when it is missing or empty.
std::string ReadName(platform::Registry& registry, RootKey root, std::string_view path,
                     std::string_view value, std::string_view fallback) {
  std::optional<std::string> text = registry.ReadString(root, path, value);
  return text && !text->empty() ? *text : std::string(fallback);
}

void MarkUnseen(ShortcutNode& node) {
  for (auto& child : node.children) {
    child->Unseen = true;
    MarkUnseen(*child);
  }
}

void RemoveUnseen(ShortcutNode& node) {
  std::erase_if(node.children, [](const auto& child) { return child->Unseen; });
  for (auto& child : node.children) RemoveUnseen(*child);
}

template <typename Visit>
void ForEachNode(ShortcutNode& node, const Visit& visit) {
  for (auto& child : node.children) {
    visit(*child);
    ForEachNode(*child, visit);
  }
}

}  // namespace

ShortcutNode& ShortcutNode::Append(std::unique_ptr<ShortcutNode> child) {
  child->parent = this;
  children.push_back(std::move(child));
  return *children.back();
}

bool ShortcutsTree::DroppedLess::operator()(const DroppedKey& a, const DroppedKey& b) const {
  if (a.last_write != b.last_write) return a.last_write < b.last_write;
  return text::CompareNoCase(a.link_path, b.link_path) < 0;
}

bool ShortcutsTree::CommandLess::operator()(const std::pair<std::string, std::string>& a,
                                            const std::pair<std::string, std::string>& b) const {
  if (const int c = text::CompareNoCase(a.first, b.first); c != 0) return c < 0;
  return text::CompareNoCase(a.second, b.second) < 0;
}

ShortcutsTree::ShortcutsTree(platform::Machine& machine, app::DataFolder& data_folder,
                             app::ProgressTracker& progress)
    : machine_(machine), data_folder_(data_folder), progress_(progress) {
  root_.IsFolder = true;
}

// Scan

void ShortcutsTree::ReadFolderNames() {
  platform::Registry& reg = machine_.registry;
  accessories_name_ =
      ReadName(reg, RootKey::LocalMachine, kCurrentVersionKey, "SM_AccessoriesName", "Accessories");
  games_name_ = ReadName(reg, RootKey::LocalMachine, kCurrentVersionKey, "SM_GamesName", "Games");
  admin_tools_name_ =
      ReadName(reg, RootKey::ClassesRoot, kAdminToolsKey, "", "Administrative Tools");
}

void ShortcutsTree::FillTables() {
  const SystemFolders folders = ReadSystemFolders(machine_.shell);
  known_system_programs_.clear();
  for (const SystemProgram& p : kKnownSystemPrograms) {
    const std::string& base = p.base == SystemProgram::ProgramFiles ? folders.program_files
                              : p.base == SystemProgram::System     ? folders.system
                                                                    : folders.windows;
    // Without its folder the entry would be a bare relative path.
    if (!base.empty()) known_system_programs_.push_back(base + std::string(p.relative));
  }
  // A 64-bit client sees the 64-bit Program Files; Windows's 32-bit copies of
  // the same programs live in the x86 folder and are just as much Windows's.
  std::optional<std::string> x86 = machine_.shell.GetFolder(SpecialFolder::ProgramFilesX86);
  if (x86 && !x86->empty()) {
    const std::string base = platform::WithTrailingBackslash(*x86);
    if (!text::EqualsNoCase(base, folders.program_files))
      for (const SystemProgram& p : kKnownSystemPrograms)
        if (p.base == SystemProgram::ProgramFiles)
          known_system_programs_.push_back(base + std::string(p.relative));
  }
  installer_file_names_.assign(std::begin(kInstallerFileNames), std::end(kInstallerFileNames));
}

void ShortcutsTree::Scan(const UninstallScanner& uninstall) {
  progress_.begin(5);
  ReadFolderNames();
  FillTables();
  uninstall_commands_.clear();
  for (std::size_t i = 0; i < uninstall.Count(); ++i) {
    const CommandLine& c = uninstall.At(i).UninstallString;
    uninstall_commands_.emplace(c.Path, c.Arguments);
  }

  MarkUnseen(root_);
  // The root is never removed, so merged folders would pile up its times.
  root_.LastWriteTimes.clear();
  for (auto& [key, seen] : dropped_) seen = false;

  // The top of both Start menus and the user's Programs share the first unit:
  // a phase of its own for each would run past the unit and move the bar back.
  progress_.begin(3);
  ScanSpecialFolder(SpecialFolder::StartMenu, false);
  progress_.advance();
  ScanSpecialFolder(SpecialFolder::CommonStartMenu, false);
  progress_.advance();
  ScanSpecialFolder(SpecialFolder::Programs, true);
  progress_.advance();
  progress_.end();
  progress_.advance();
  ScanSpecialFolder(SpecialFolder::CommonPrograms, true);
  progress_.advance();
  ScanSpecialFolder(SpecialFolder::Desktop, false);
  progress_.advance();
  ScanSpecialFolder(SpecialFolder::CommonDesktop, false);
  progress_.advance();
  if (auto appdata = machine_.shell.GetFolder(SpecialFolder::RoamingAppData);
      appdata && !appdata->empty())
    ScanFolder(platform::WithTrailingBackslash(*appdata) + "Microsoft\\Internet Explorer", root_,
               true, true);

  RemoveUnseen(root_);
  std::erase_if(dropped_, [](const auto& entry) { return !entry.second; });
  uninstall_commands_.clear();
  progress_.advance();
  progress_.end();
}

void ShortcutsTree::ScanSpecialFolder(SpecialFolder folder, bool recursion) {
  std::optional<std::string> path = machine_.shell.GetFolder(folder);
  if (!path || path->empty()) return;
  ScanFolder(*path, root_, recursion, false);
}

bool ShortcutsTree::IsSkippedTopFolder(std::string_view name) const {
  for (std::string_view skipped :
       {std::string_view(accessories_name_), std::string_view(admin_tools_name_),
        std::string_view(games_name_), std::string_view("Maintenance"),
        std::string_view("Extras and Upgrades")})
    if (text::EqualsNoCase(name, skipped)) return true;
  return false;
}

void ShortcutsTree::ScanFolder(const std::string& folder, ShortcutNode& node, bool recursion,
                               bool merging) {
  const std::string prefix = platform::WithTrailingBackslash(folder);
  // One listing serves both the shortcuts and the subfolders.
  std::vector<platform::FolderEntry> entries =
      machine_.files.ListFolder(folder, recursion ? "*" : "*.lnk");

  // The node's shortcuts by their first last-write time, in child order, so
  // a large folder is not searched once per file.
  std::vector<std::pair<FileTime, ShortcutNode*>> by_time;
  for (auto& child : node.children)
    if (!child->IsFolder && !child->LastWriteTimes.empty())
      by_time.emplace_back(child->LastWriteTimes.front(), child.get());
  std::stable_sort(by_time.begin(), by_time.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  auto find_unchanged = [&](std::string_view file, FileTime time) -> ShortcutNode* {
    auto range = std::equal_range(by_time.begin(), by_time.end(), std::pair(time, nullptr),
                                  [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto it = range.first; it != range.second; ++it) {
      const std::string& name = it->second->Name;
      if (name.size() + 4 == file.size() && text::EqualsNoCase(name, file.substr(0, name.size())))
        return it->second;
    }
    return nullptr;
  };

  struct NewShortcut {
    std::string file_name;
    FileTime last_write;
  };
  struct Subfolder {
    std::string name;
    FileTime last_write;
  };
  std::vector<NewShortcut> fresh;
  std::vector<Subfolder> subfolders;
  const bool at_root = &node == &root_;
  for (platform::FolderEntry& e : entries) {
    if (e.info.directory) {
      if (recursion && !(at_root && IsSkippedTopFolder(e.name)))
        subfolders.push_back({std::move(e.name), e.info.last_write});
      continue;
    }
    if (!IsLinkFileName(e.name)) continue;
    if (ShortcutNode* same = find_unchanged(e.name, e.info.last_write)) {
      // A program updated in place keeps its shortcut: only its target tells.
      if (same->Unseen) RefreshTarget(*same);
      same->Unseen = false;
      continue;
    }
    if (auto it =
            dropped_.empty() ? dropped_.end() : dropped_.find({prefix + e.name, e.info.last_write});
        it != dropped_.end()) {
      it->second = true;
      continue;
    }
    fresh.push_back({std::move(e.name), e.info.last_write});
  }

  progress_.begin(static_cast<unsigned>(fresh.size() + 1 + 3 * subfolders.size()));
  for (NewShortcut& s : fresh) {
    auto child = std::make_unique<ShortcutNode>();
    child->Name = s.file_name.substr(0, s.file_name.rfind('.'));
    child->LastWriteTimes.push_back(s.last_write);
    if (ResolveNew(prefix + s.file_name, *child)) {
      node.Append(std::move(child));
    } else {
      dropped_.emplace(DroppedKey{prefix + s.file_name, s.last_write}, true);
    }
    progress_.advance();
  }
  progress_.advance();

  for (Subfolder& sub : subfolders) {
    ShortcutNode* target = &node;
    if (!merging) {
      target = nullptr;
      for (auto& child : node.children)
        if (child->IsFolder && text::EqualsNoCase(child->Name, sub.name)) {
          target = child.get();
          break;
        }
      if (!target) {
        auto folder_node = std::make_unique<ShortcutNode>();
        folder_node->IsFolder = true;
        folder_node->Name = sub.name;
        target = &node.Append(std::move(folder_node));
      }
    }
    if (target->Unseen) {
      target->Unseen = false;
      target->LastWriteTimes.clear();
    }
    target->LastWriteTimes.push_back(sub.last_write);
    ScanFolder(prefix + sub.name, *target, true, false);
    progress_.advance(3);
  }
  progress_.end();
}

bool ShortcutsTree::IsDroppedTarget(std::string_view path) const {
  for (const std::string& known : known_system_programs_)
    if (text::EqualsNoCase(path, known)) return true;
  for (const std::string& installer : installer_file_names_)
    if (text::FindNoCase(path, installer) != std::string_view::npos) return true;
  return false;
}

bool ShortcutsTree::ResolveNew(const std::string& link_path, ShortcutNode& node) {
  if (!ResolveShortcut(machine_, link_path, node.LinksTo)) {
    node.LinksTo = CommandLine();  // an unresolvable shortcut keeps an empty target
    return true;
  }
  node.Uninstaller = uninstall_commands_.count({node.LinksTo.Path, node.LinksTo.Arguments}) != 0;
  const std::string& path = node.LinksTo.Path;
  if (!IsExecutablePath(path)) return true;
  if (IsDroppedTarget(path)) return false;
  ReadTarget(node);
  return true;
}

void ShortcutsTree::ReadTarget(ShortcutNode& node) {
  const std::string& path = node.LinksTo.Path;
  node.FileSize = 0;
  node.TargetWriteTime = 0;
  node.Binary.reset();
  node.BinaryFromCache = false;
  if (auto info = machine_.files.GetInfo(path); info && !info->directory) {
    node.FileSize = info->size;
    node.TargetWriteTime = info->last_write;
  }
  if (node.Uninstaller) return;
  auto binary = std::make_unique<FileVersionInfo>();
  if (binary->Read(machine_.shell, path)) {
    node.Binary = std::move(binary);
    ApplyProductRules(node);
  }
}

void ShortcutsTree::RefreshTarget(ShortcutNode& node) {
  if (node.IsFolder || !IsExecutablePath(node.LinksTo.Path)) return;
  std::uint64_t size = 0;
  FileTime time = 0;
  if (auto info = machine_.files.GetInfo(node.LinksTo.Path); info && !info->directory) {
    size = info->size;
    time = info->last_write;
  }
  // A cache written before the time was kept has 0 here: read once more.
  if (size == node.FileSize && time == node.TargetWriteTime) return;
  // Exactly what a fresh resolve gives, a failed read included: a new
  // process without the cache would see the same.
  ReadTarget(node);
}

const std::string& ShortcutsTree::NotepadProductName() {
  if (!notepad_product_name_) {
    notepad_product_name_.emplace();
    if (auto windows = machine_.shell.GetFolder(SpecialFolder::Windows);
        windows && !windows->empty()) {
      const std::string base = platform::WithTrailingBackslash(*windows);
      std::string path = base + "system32\\notepad.exe";
      if (!machine_.files.Exists(path)) path = base + "system\\notepad.exe";
      FileVersionInfo info;
      if (info.Read(machine_.shell, path)) *notepad_product_name_ = info.ProductName;
    }
  }
  return *notepad_product_name_;
}

void ShortcutsTree::ApplyProductRules(ShortcutNode& node) {
  std::string& product = node.Binary->ProductName;
  // Without a notepad product name every nameless resource would count as Windows's.
  const std::string& windows_product = NotepadProductName();
  if (!windows_product.empty() && product == windows_product) {
    node.Binary.reset();
    return;
  }
  if (product.size() >= kApplicationSuffix.size() &&
      text::EqualsNoCase(
          std::string_view(product).substr(product.size() - kApplicationSuffix.size()),
          kApplicationSuffix))
    product.erase(product.size() - kApplicationSuffix.size());
}

void ShortcutsTree::RefreshFileInfo() {
  ForEachNode(root_, [this](ShortcutNode& node) { RefreshTarget(node); });
}

// Saves are silent: a cache that cannot be written is rebuilt next time.
void ShortcutsTree::SaveCache() { SaveShortcutsTreeCache(data_folder_, root_).IgnoreError(); }

void ShortcutsTree::LoadCache() {
  if (root_.children.empty()) LoadShortcutsTreeCache(data_folder_, machine_, root_);
}

}  // namespace kv::inventory
