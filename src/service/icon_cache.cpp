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

std::string IconCachePath(app::DataFolder& data_folder, const SoftwareInfo& program) {
  const std::string& id = program.GlobalId.empty() ? program.LocalId : program.GlobalId;
  return data_folder.GetDataFolder() + "cache\\icons\\" + id + ".ico";
}

std::string CachedIconPath(platform::Machine& machine, app::DataFolder& data_folder,
                           const SoftwareInfo& program) {
  if (program.GlobalId.empty() && program.LocalId.empty()) return {};
  // A LocalId may hold characters no file name can.
  const std::string& id = program.GlobalId.empty() ? program.LocalId : program.GlobalId;
  if (id.find_first_of("\\/:*?\"<>|") != std::string::npos) return {};
  const std::string path = IconCachePath(data_folder, program);
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
