#include "service/icon_cache.h"

#include "platform/icon_resources.h"
#include "service/program_icon.h"
#include "text/compare.h"

namespace kv::service {
namespace {

// Icon files are small; anything larger is not worth holding for its icon.
constexpr std::uint64_t kMaxIcoFileBytes = 16u << 20;

// What the cache file holds: an .ico source as it is, or the group of a
// module at the found index written out as an .ico file.
std::optional<std::string> IconFileBytes(platform::Machine& machine, const IconSource& source) {
  if (source.path.size() >= 5 && text::EndsWithNoCase(source.path, ".ico")) {
    const auto info = machine.files.GetInfo(source.path);
    if (!info || info->directory || info->size > kMaxIcoFileBytes) return std::nullopt;
    auto bytes = machine.files.ReadAll(source.path);
    // Only what parses as an icon file goes into the cache.
    if (!bytes || !platform::ReadIconGroup(*bytes, 0)) return std::nullopt;
    return std::move(bytes).value();
  }
  return machine.shell.ReadIconGroupFile(source.path, source.index);
}

}  // namespace

std::string IconCacheName(const SoftwareInfo& program) {
  // The service's identifiers and the client's own keys live apart, so that
  // a key that looks like an identifier cannot lend its icon to another program.
  if (program.GlobalId.empty() && program.LocalId.empty()) return {};
  const std::string name =
      program.GlobalId.empty() ? kLocalIconPrefix + program.LocalId : program.GlobalId;
  constexpr std::string_view kNotInNames = "\\/:*?\"<>|";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || kNotInNames.find(c) != std::string_view::npos)
      return {};
  }
  // Names Windows keeps for devices, whatever follows a dot.
  const std::string stem = name.substr(0, name.find('.'));
  static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const std::string_view device : kDevices)
    if (text::EqualsNoCase(stem, device)) return {};
  const bool numbered_port =
      stem.size() == 4 && stem[3] >= '0' && stem[3] <= '9' &&
      (text::StartsWithNoCase(stem, "COM") || text::StartsWithNoCase(stem, "LPT"));
  if (numbered_port) return {};
  if (name.back() == '.' || name.back() == ' ') return {};
  return name;
}

std::string IconCachePath(app::DataFolder& data_folder, const SoftwareInfo& program) {
  const std::string name = IconCacheName(program);
  if (name.empty()) return {};
  return data_folder.GetDataFolder() + "cache\\icons\\" + name + ".ico";
}

void ForgetCachedIcon(platform::FileSystem& files, app::DataFolder& data_folder,
                      const SoftwareInfo& program) {
  if (const std::string path = IconCachePath(data_folder, program); !path.empty())
    files.Delete(path).IgnoreError();
}

std::string CachedIconPath(platform::Machine& machine, app::DataFolder& data_folder,
                           const SoftwareInfo& program) {
  const std::string path = IconCachePath(data_folder, program);
  if (path.empty()) return {};
  if (machine.files.Exists(path)) return path;

  ExtractedIcon found = ExtractProgramIcon(machine.shell, program, platform::IconSize::Small);
  if (!found.icon) return {};
  IconSource source = found.source;
  if (source.path.find('%') != std::string::npos) {
    source.path = machine.shell.ExpandEnvironment(source.path);
  }
  const std::optional<std::string> bytes = IconFileBytes(machine, source);
  if (!bytes) return {};
  if (!app::CreateDirectoryChain(machine.files, path)) return {};
  const std::string part = path + ".part";
  if (!machine.files.WriteAll(part, *bytes) || !machine.files.Move(part, path, true)) {
    machine.files.Delete(part).IgnoreError();
    return {};
  }
  return path;
}

}  // namespace kv::service
