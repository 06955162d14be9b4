#include "inventory/command_line.h"

#include "text/compare.h"

namespace kv::inventory {
namespace {

// The expansion buffer of the platform is one path long.
constexpr std::size_t kMaxExpanded = 260;

bool IsExistingFile(platform::FileSystem& files, const std::string& path) {
  auto info = files.GetInfo(path);
  return info && !info->directory;
}

}  // namespace

void CommandLine::Split(platform::Machine& machine, std::string_view input, bool long_path) {
  Path.clear();
  Arguments.clear();
  if (input.empty()) return;
  std::string expanded;
  if (input.find('%') != std::string_view::npos) {
    expanded = machine.shell.ExpandEnvironment(input);
    if (expanded.size() >= kMaxExpanded) expanded.resize(kMaxExpanded - 1);
    input = expanded;
  }

  std::size_t pos = 0;
  bool searched = false;
  if (input[0] == '"') {
    const std::size_t close = input.find('"', 1);
    if (close == std::string_view::npos) return;  // an unclosed quote names nothing
    Path = std::string(input.substr(1, close - 1));
    pos = close + 1;
  } else {
    while (pos < input.size() && input[pos] == ' ') ++pos;
    for (;;) {
      const std::size_t blank = input.find(' ', pos);
      const std::size_t end = blank == std::string_view::npos ? input.size() : blank;
      Path += input.substr(pos, end - pos);
      pos = end;
      if (Path.size() > 1 && Path[1] != ':') {
        if (auto found = machine.shell.FindOnSearchPath(Path, ".exe")) {
          Path = *found;
          searched = true;
          break;
        }
      }
      if (pos >= input.size()) break;
      if (IsExistingFile(machine.files, Path) || IsExistingFile(machine.files, Path + ".exe")) break;
      while (pos < input.size() && input[pos] == ' ') Path += input[pos++];
      if (pos >= input.size()) break;
    }
  }
  if (long_path && !searched && !Path.empty()) Path = machine.files.LongPath(Path);
  while (pos < input.size() && input[pos] == ' ') ++pos;
  Arguments = std::string(input.substr(pos));
}

std::string CommandLine::Format() const {
  if (Arguments.empty()) return Path;
  if (Path.empty()) return "";
  return "\"" + Path + "\" " + Arguments;
}

std::string CommandLine::FormatForSplit() const {
  if (Arguments.empty() && Path.find(' ') != std::string::npos) return "\"" + Path + "\"";
  return Format();
}

std::optional<std::string> CommandLine::FileName() const {
  std::size_t cut = Path.rfind('\\');
  if (cut == std::string::npos) cut = Path.rfind('/');
  if (cut == std::string::npos) return std::nullopt;
  return Path.substr(cut + 1);
}

bool CommandLine::IsExe() const { return Path.size() >= 5 && text::EndsWithNoCase(Path, ".exe"); }

bool ResolveShortcut(platform::Machine& machine, std::string_view link_path, CommandLine& out) {
  out = CommandLine();
  if (auto component = machine.shell.AdvertisedShortcutTarget(link_path); component && !component->empty()) {
    out.Split(machine, *component, false);
    return !out.Path.empty();
  }
  if (auto link = machine.shell.ReadShellLink(link_path)) {
    out.Path = link->path;
    out.Arguments = link->arguments;
  }
  return !out.Path.empty();
}

}  // namespace kv::inventory
