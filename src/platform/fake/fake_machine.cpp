#include "platform/fake/fake_machine.h"

#include <cstdio>
#include <utility>

#include "platform/pe_resources.h"

namespace kv::platform {

FileTime FakeClock::NowUtc() { return utc_.load(); }

FileTime FakeClock::NowLocal() {
  const long long offset = static_cast<long long>(offset_minutes_.load()) * 60 * 10'000'000;
  return static_cast<FileTime>(static_cast<long long>(utc_.load()) + offset);
}

void FakeClock::SetLocal(const CalendarTime& local) {
  const long long offset = static_cast<long long>(offset_minutes_.load()) * 60 * 10'000'000;
  utc_ = static_cast<FileTime>(static_cast<long long>(FromCalendar(local)) - offset);
}

namespace {

constexpr std::string_view kLinkMagic = "KVFAKELNK\r\n";
constexpr std::string_view kAdvertisedMagic = "KVFAKEMSI\r\n";

bool HasExtension(std::string_view name) {
  const std::size_t slash = name.find_last_of("\\/");
  const std::size_t dot = name.rfind('.');
  return dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
}

}  // namespace

FakeShell::FakeShell(FakeFileSystem& files) : files_(files) {
  const std::string profile = "C:\\Users\\user";
  const std::string roaming = profile + "\\AppData\\Roaming";
  const std::string all = "C:\\ProgramData";
  folders_ = {
      {SpecialFolder::RoamingAppData, roaming},
      {SpecialFolder::LocalAppData, profile + "\\AppData\\Local"},
      {SpecialFolder::StartMenu, roaming + "\\Microsoft\\Windows\\Start Menu"},
      {SpecialFolder::Programs, roaming + "\\Microsoft\\Windows\\Start Menu\\Programs"},
      {SpecialFolder::CommonStartMenu, all + "\\Microsoft\\Windows\\Start Menu"},
      {SpecialFolder::CommonPrograms, all + "\\Microsoft\\Windows\\Start Menu\\Programs"},
      {SpecialFolder::Desktop, profile + "\\Desktop"},
      {SpecialFolder::CommonDesktop, "C:\\Users\\Public\\Desktop"},
      {SpecialFolder::ProgramFiles, "C:\\Program Files"},
      {SpecialFolder::ProgramFilesX86, "C:\\Program Files (x86)"},
      {SpecialFolder::Windows, "C:\\Windows"},
      {SpecialFolder::System, "C:\\Windows\\system32"},
  };
  env_ = {
      {"ProgramFiles", "C:\\Program Files"},
      {"ProgramFiles(x86)", "C:\\Program Files (x86)"},
      {"CommonProgramFiles", "C:\\Program Files\\Common Files"},
      {"ProgramData", all},
      {"SystemRoot", "C:\\Windows"},
      {"windir", "C:\\Windows"},
      {"SystemDrive", "C:"},
      {"USERPROFILE", profile},
      {"APPDATA", roaming},
      {"LOCALAPPDATA", profile + "\\AppData\\Local"},
      {"TEMP", profile + "\\AppData\\Local\\Temp"},
      {"TMP", profile + "\\AppData\\Local\\Temp"},
  };
}

std::string FakeShell::ExpandEnvironment(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::string out;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string_view::npos) {
      out += text.substr(pos);
      break;
    }
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) {
      out += text.substr(pos);
      break;
    }
    out += text.substr(pos, open - pos);
    auto it = env_.find(text.substr(open + 1, close - open - 1));
    if (it != env_.end()) {
      out += it->second;
      pos = close + 1;
    } else {
      out += '%';  // unknown names stay, and the closing % may open the next one
      pos = open + 1;
      out += text.substr(pos, close - pos);
      pos = close;
    }
  }
  return out;
}

std::optional<std::string> FakeShell::FindOnSearchPath(std::string_view name,
                                                       std::string_view extension) {
  if (name.empty()) return std::nullopt;
  std::string file(name);
  if (!HasExtension(file)) file += std::string(extension);
  auto is_file = [&](const std::string& p) {
    auto info = files_.GetInfo(p);
    return info && !info->directory;
  };
  if (file.find_first_of("\\/") != std::string::npos) {
    if (is_file(file)) return files_.Normalize(file);
    return std::nullopt;
  }
  std::vector<std::string> folders;
  {
    std::lock_guard lock(mutex_);
    const std::size_t slash = exe_.rfind('\\');
    if (slash != std::string::npos) folders.push_back(exe_.substr(0, slash));
    folders.push_back("");  // current folder
    // A machine may lack either folder (tests remove them).
    if (const auto& system = folders_[SpecialFolder::System]) folders.push_back(*system);
    if (const auto& windows = folders_[SpecialFolder::Windows]) {
      folders.push_back(*windows + "\\System");
      folders.push_back(*windows);
    }
    folders.insert(folders.end(), search_path_.begin(), search_path_.end());
  }
  for (auto& folder : folders) {
    const std::string base = folder.empty() ? files_.CurrentDirectory() : folder;
    const std::string candidate =
        base + (base.empty() || base.back() == '\\' ? "" : "\\") + file;
    if (is_file(candidate)) return files_.Normalize(candidate);
  }
  return std::nullopt;
}

std::optional<std::string> FakeShell::ReadVersionResource(std::string_view path) {
  auto image = files_.ReadAll(path);
  if (!image) return std::nullopt;
  return ExtractVersionResource(*image);
}

std::unique_ptr<Icon> FakeShell::ExtractFileIcon(std::string_view file, int index, IconSize size) {
  auto bytes = files_.ReadAll(file);
  if (!bytes) return nullptr;
  auto group = ReadIconGroup(*bytes, index);
  if (!group) return nullptr;
  const int pixels = IconPixels(size);
  const auto chosen = ChooseIconImage(group->images, pixels);
  if (!chosen) return nullptr;
  IconImage image = std::move(group->images[*chosen]);
  image.data.clear();
  return std::make_unique<FakeIcon>(pixels, std::move(image));
}

std::optional<std::string> FakeShell::ReadIconGroupFile(std::string_view module, int index) {
  auto bytes = files_.ReadAll(module);
  if (!bytes) return std::nullopt;
  return IconFileFromImage(*bytes, index);
}

std::optional<std::string> FakeShell::AdvertisedShortcutTarget(std::string_view link_path) {
  auto data = files_.ReadAll(link_path);
  if (!data || data->rfind(kAdvertisedMagic, 0) != 0) return std::nullopt;
  return data->substr(kAdvertisedMagic.size());
}

std::optional<ShellLinkTarget> FakeShell::ReadShellLink(std::string_view link_path) {
  auto data = files_.ReadAll(link_path);
  if (!data || data->rfind(kLinkMagic, 0) != 0) return std::nullopt;
  const std::string body = data->substr(kLinkMagic.size());
  const std::size_t nl = body.find("\r\n");
  if (nl == std::string::npos) return ShellLinkTarget{body, ""};
  return ShellLinkTarget{body.substr(0, nl), body.substr(nl + 2)};
}

void FakeShell::SetEnvironment(std::string name, std::string value) {
  std::lock_guard lock(mutex_);
  env_[std::move(name)] = std::move(value);
}

void FakeShell::SetSearchPath(std::vector<std::string> folders) {
  std::lock_guard lock(mutex_);
  search_path_ = std::move(folders);
}

void FakeShell::AddShortcut(std::string_view link_path, std::string_view target,
                            std::string_view arguments) {
  files_.AddFile(link_path, std::string(kLinkMagic) + std::string(target) + "\r\n" +
                                std::string(arguments));
}

void FakeShell::AddAdvertisedShortcut(std::string_view link_path,
                                      std::string_view component_path) {
  files_.AddFile(link_path, std::string(kAdvertisedMagic) + std::string(component_path));
}

std::optional<std::string> FakeShell::GetFolder(SpecialFolder folder) {
  std::lock_guard lock(mutex_);
  auto it = folders_.find(folder);
  return it == folders_.end() ? std::nullopt : it->second;
}

UserLocale FakeShell::UserDefaultLocale() {
  std::lock_guard lock(mutex_);
  return locale_;
}

void FakeShell::SetUserLocale(UserLocale locale) {
  std::lock_guard lock(mutex_);
  locale_ = std::move(locale);
}

std::string FakeShell::ExecutablePath() {
  std::lock_guard lock(mutex_);
  return exe_;
}

long FakeShell::Execute(std::string_view verb, std::string_view file,
                        std::string_view parameters, ShowCommand show, bool on_desktop_window) {
  std::lock_guard lock(mutex_);
  executed_.push_back({std::string(verb), std::string(file), std::string(parameters), show,
                       on_desktop_window});
  return execute_result_;
}

void FakeShell::SetFolder(SpecialFolder folder, std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  folders_[folder] = std::move(path);
}

std::vector<ExecuteCall> FakeShell::executed() {
  std::lock_guard lock(mutex_);
  return executed_;
}

FakeMachine::FakeMachine() {
  for (auto f : {SpecialFolder::RoamingAppData, SpecialFolder::LocalAppData,
                 SpecialFolder::Programs, SpecialFolder::CommonPrograms, SpecialFolder::Desktop,
                 SpecialFolder::CommonDesktop, SpecialFolder::ProgramFiles,
                 SpecialFolder::ProgramFilesX86, SpecialFolder::System})
    files.AddFolder(*shell.GetFolder(f));
  files.AddFolder(files.TempFolder());
  files.AddFile(shell.ExecutablePath(), "MZ");
}

Result<std::string> FakeIdentifiers::Md5Hex(std::string_view data) {
  return SystemIdentifiers().Md5Hex(data);
}

Result<std::string> FakeIdentifiers::NewGuid() {
  std::lock_guard lock(mutex_);
  if (fail_) return Status::Error(ErrorKind::Other, "no GUID (as the test asked)");
  ++made_;
  if (!next_.empty()) return std::exchange(next_, std::string());
  if (system_) return SystemIdentifiers().NewGuid();
  char text[39];
  std::snprintf(text, sizeof text, "{00000000-0000-4000-8000-%012X}", made_);
  return std::string(text);
}

void FakeIdentifiers::SetNextGuid(std::string guid) {
  std::lock_guard lock(mutex_);
  next_ = std::move(guid);
}

void FakeIdentifiers::SetGuidFailure(bool fail) {
  std::lock_guard lock(mutex_);
  fail_ = fail;
}

void FakeIdentifiers::UseSystemGuids(bool use) {
  std::lock_guard lock(mutex_);
  system_ = use;
}

int FakeIdentifiers::guids_made() const {
  std::lock_guard lock(mutex_);
  return made_;
}

}  // namespace kv::platform
