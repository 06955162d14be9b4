#include "platform/fake/fake_machine.h"

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

FakeShell::FakeShell() {
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
}

std::optional<std::string> FakeShell::GetFolder(SpecialFolder folder) {
  std::lock_guard lock(mutex_);
  auto it = folders_.find(folder);
  return it == folders_.end() ? std::nullopt : it->second;
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

}  // namespace kv::platform
