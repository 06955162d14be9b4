#include "inventory/association_scanner.h"

#include <algorithm>

#include "text/compare.h"

namespace kv::inventory {
namespace {

using platform::RegistryKey;
using platform::RootKey;

constexpr std::string_view kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr std::string_view kUserClasses = "Software\\Classes";
// The identifiers Windows makes up for "open with" choices ("txt_auto_file")
// name no program of their own.
constexpr std::string_view kAutoFile = "_auto_file";

std::string Below(std::string_view parent, std::string_view name) {
  if (parent.empty()) return std::string(name);
  std::string path(parent);
  path += '\\';
  path += name;
  return path;
}

std::string DefaultText(RegistryKey& key) { return key.ReadString("").value_or(""); }

}  // namespace

AssociationScanner::AssociationScanner(platform::Machine& machine,
                                       std::vector<std::string> known_executables)
    : machine_(machine), known_(std::move(known_executables)) {
  for (std::size_t i = 0; i < known_.size(); ++i)
    if (!known_[i].empty()) known_index_.emplace(text::FoldCase(known_[i]), i);
}

void AssociationScanner::Scan() {
  entries_.clear();
  entry_index_.clear();
  if (app_paths_.empty()) ReadAppPaths();
  ScanRoot(RootKey::CurrentUser, kUserClasses);
  ScanRoot(RootKey::ClassesRoot, "");
}

int AssociationScanner::LookupAppPath(std::string_view name) const {
  for (std::size_t i = 0; i < app_paths_.size(); ++i)
    if (text::EqualsNoCase(app_paths_[i].first, name)) return static_cast<int>(i);
  return -1;
}

void AssociationScanner::ReadAppPaths() {
  platform::Registry& reg = machine_.registry;
  const auto add = [&](const std::string& name, RootKey root, const std::string& path) {
    const std::optional<std::string> text = reg.ReadString(root, path, "");
    if (!text) return;
    CommandLine command;
    command.Split(machine_, *text, true);
    app_paths_.emplace_back(name, std::move(command));
  };
  auto paths = reg.Open(RootKey::LocalMachine, kAppPathsKey);
  if (!paths) return;
  for (const std::string& name : paths->SubKeyNames())
    add(name, RootKey::LocalMachine, Below(kAppPathsKey, name));
  auto apps = reg.Open(RootKey::ClassesRoot, "Applications");
  if (!apps) return;
  for (const std::string& name : apps->SubKeyNames())
    add(name, RootKey::ClassesRoot, "Applications\\" + name + "\\shell\\open\\command");
}

void AssociationScanner::ScanRoot(RootKey root, std::string_view classes) {
  auto list = machine_.registry.Open(root, classes);
  if (!list) return;
  for (const std::string& name : list->SubKeyNames())
    if (!name.empty() && name.front() == '.') ScanExtension(root, classes, name);
}

void AssociationScanner::ScanExtension(RootKey root, std::string_view classes,
                                       const std::string& name) {
  platform::Registry& reg = machine_.registry;
  const std::string ext_path = Below(classes, name);
  auto ext = reg.Open(root, ext_path);
  if (!ext) return;  // one unreadable extension leaves the others to scan

  std::string default_id = DefaultText(*ext);
  if (default_id.size() > kAutoFile.size() && text::EndsWithNoCase(default_id, kAutoFile))
    default_id.clear();

  // Both lists are only read: asking for more is refused on machine-wide
  // keys to a user without administrator rights.
  std::vector<std::string> ids;
  if (auto progids = reg.Open(root, ext_path + "\\OpenWithProgids")) {
    for (const platform::NamedValue& v : progids->Values())
      if (!v.name.empty() && !text::EndsWithNoCase(v.name, kAutoFile)) ids.push_back(v.name);
  }

  std::vector<AssociationHandler> handlers;
  std::vector<std::string> apps;
  if (auto list = reg.Open(root, ext_path + "\\OpenWithList")) {
    for (const std::string& app : list->SubKeyNames()) {
      const std::string app_path = ext_path + "\\OpenWithList\\" + app;
      auto key = reg.Open(root, app_path);
      if (!key || !CollectHandlers(root, app_path, *key, false, handlers)) apps.push_back(app);
    }
  }

  if (!default_id.empty() &&
      std::none_of(ids.begin(), ids.end(),
                   [&](const std::string& id) { return text::EqualsNoCase(id, default_id); }))
    ids.insert(ids.begin(), default_id);

  for (const std::string& id : ids) {
    RootKey id_root = root;
    std::string id_path = Below(classes, id);
    auto key = reg.Open(id_root, id_path);
    if (!key && root == RootKey::CurrentUser) {
      id_root = RootKey::ClassesRoot;
      id_path = id;
      key = reg.Open(id_root, id_path);
    }
    // Key names are one whatever their case, so are the identifiers naming them.
    if (key) CollectHandlers(id_root, id_path, *key, text::EqualsNoCase(id, default_id), handlers);
  }

  for (const std::string& app : apps) {
    const int found = LookupAppPath(app);
    if (found < 0) continue;
    const CommandLine& command = app_paths_[found].second;
    const int program = Match(command);
    if (program < 0) continue;
    handlers.push_back({false, "open", "", command, static_cast<std::size_t>(program)});
  }

  if (!handlers.empty()) Add(name.substr(1), std::move(handlers));
}

bool AssociationScanner::CollectHandlers(RootKey root, const std::string& path, RegistryKey& key,
                                         bool is_default, std::vector<AssociationHandler>& out) {
  platform::Registry& reg = machine_.registry;
  const std::string description = DefaultText(key);
  const std::string shell_path = path + "\\shell";
  auto shell = reg.Open(root, shell_path);
  if (!shell) return false;
  std::string default_verb;
  if (is_default) {
    default_verb = DefaultText(*shell);
    if (default_verb.empty()) default_verb = "open";
  }
  bool named_a_path = false;
  for (const std::string& verb : shell->SubKeyNames()) {
    const std::optional<std::string> text =
        reg.ReadString(root, shell_path + "\\" + verb + "\\command", "");
    if (!text) continue;
    CommandLine command;
    command.Split(machine_, *text, true);
    if (command.Path.empty()) continue;
    named_a_path = true;
    const int program = Match(command);
    if (program < 0) continue;
    out.push_back({is_default && text::EqualsNoCase(verb, default_verb), verb, description,
                   std::move(command), static_cast<std::size_t>(program)});
  }
  return named_a_path;
}

int AssociationScanner::Match(const CommandLine& command) const {
  if (command.Path.empty()) return -1;
  const auto it = known_index_.find(text::FoldCase(command.Path));
  return it == known_index_.end() ? -1 : static_cast<int>(it->second);
}

void AssociationScanner::Add(const std::string& extension,
                             std::vector<AssociationHandler> handlers) {
  const auto [it, added] = entry_index_.emplace(text::FoldCase(extension), entries_.size());
  if (added) entries_.push_back({extension, {}});
  std::vector<AssociationHandler>& list = entries_[it->second].Handlers;
  list.insert(list.end(), std::make_move_iterator(handlers.begin()),
              std::make_move_iterator(handlers.end()));
  // The same program and verb met twice (per user and machine-wide, in any
  // case: the verb is a key name) is one handler.
  for (std::size_t i = 0; i < list.size(); ++i) {
    for (std::size_t j = i + 1; j < list.size();) {
      if (list[j].Program != list[i].Program || !text::EqualsNoCase(list[j].Verb, list[i].Verb)) {
        ++j;
        continue;
      }
      if (list[i].Description.empty()) list[i].Description = list[j].Description;
      if (list[j].IsDefault) list[i].IsDefault = true;
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(j));
    }
  }
}

}  // namespace kv::inventory
