#include "app/startup.h"

#include "app/shell_actions.h"
#include "text/format.h"

namespace kv::app {

using platform::RootKey;

void RemoveOldProductAutorun(platform::Registry& registry) {
  auto key = registry.Open(RootKey::CurrentUser, kRunKeyPath, platform::RegView::Native,
                           /*writable=*/true);
  if (key) key->DeleteValue(kOldProductName).IgnoreError();  // usually not there
}

MigrationResult MigrateOldLoginFile(DataFolder& folders) {
  auto& files = folders.machine().files;
  const std::string old_path =
      platform::WithTrailingBackslash(folders.GetAppDataFolder() + kOldProductName) + "login.xml";
  const std::string new_path = platform::WithTrailingBackslash(folders.GetDataFolder()) + "login.xml";
  if (!files.Exists(old_path)) return MigrationResult::NoOldFile;
  CreateDirectoryChain(files, new_path);
  if (files.Move(old_path, new_path, /*replace=*/false)) return MigrationResult::Moved;
  return files.Exists(new_path) ? MigrationResult::NewFileKept : MigrationResult::Failed;
}

bool RegisterAppId(platform::Registry& registry) {
  const std::string guid_key = std::string("AppID\\") + kAppIdGuid;
  const std::string exe_key = std::string("AppID\\") + kAppIdExeName;
  const bool a =
      registry.Write(RootKey::ClassesRoot, guid_key, "", platform::RegValue::String("LMR")).ok();
  const bool b = registry
                     .Write(RootKey::ClassesRoot, exe_key, "AppID",
                            platform::RegValue::String(kAppIdGuid))
                     .ok();
  return a && b;
}

bool UnregisterAppId(platform::Registry& registry) {
  const bool a =
      registry.DeleteTree(RootKey::ClassesRoot, std::string("AppID\\") + kAppIdGuid).ok();
  const bool b =
      registry.DeleteTree(RootKey::ClassesRoot, std::string("AppID\\") + kAppIdExeName).ok();
  return a && b;
}

std::string FormatBuildNumber(const std::vector<std::uint32_t>& version) {
  if (version.size() < 3) return "???";
  return std::to_string(version[2]);
}

std::string UninstalledPageUrl(const ServiceConfig& config, std::string_view user_id,
                               std::string_view build) {
  return config.site.Url(text::Format("/uninstalled.php?userid=%.*s&build=%.*s",
                                      static_cast<int>(user_id.size()), user_id.data(),
                                      static_cast<int>(build.size()), build.data()));
}

std::string BugReportUrl(const ServiceConfig& config) {
  return config.site.Url("/bug_report.php?type=client");
}

StartupWait DecideStartupWait(bool job_ended, double progress, bool autorun) {
  if (job_ended || progress >= 80.0 || autorun) return StartupWait::Silent;
  return StartupWait::ShowDialog;
}

StartupRefresh::StartupRefresh(std::function<void()> job, const ProgressRange& progress,
                               ThreadHooks hooks)
    : job_(std::move(job)), progress_(progress), hooks_(std::move(hooks)) {}

StartupRefresh::~StartupRefresh() { Join(); }

void StartupRefresh::Start() {
  thread_ = std::thread([this] {
    const bool entered = !hooks_.enter || hooks_.enter();
    if (entered) {
      // A failing refresh must not take the process down; start-up goes on
      // with whatever the job left behind.
      try {
        if (job_) job_();
      } catch (...) {
      }
      if (hooks_.leave) hooks_.leave();
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    cv_.notify_all();
  });
}

bool StartupRefresh::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, timeout, [this] { return ended_; });
}

void StartupRefresh::Join() {
  if (thread_.joinable()) thread_.join();
}

bool StartupRefresh::ended() {
  std::lock_guard lock(mutex_);
  return ended_;
}

StartupDialogTick TickStartupDialog(StartupRefresh& refresh, std::chrono::milliseconds wait) {
  if (refresh.WaitFor(wait)) return {true, 100};
  return {false, static_cast<int>(refresh.progress())};
}

StartupWait RunStartupRefresh(StartupRefresh& refresh, bool autorun,
                              const std::function<void(StartupRefresh&)>& show_dialog,
                              std::chrono::milliseconds first_wait) {
  refresh.Start();
  const bool ended = refresh.WaitFor(first_wait);
  const StartupWait decision = DecideStartupWait(ended, refresh.progress(), autorun);
  if (decision == StartupWait::ShowDialog && show_dialog) show_dialog(refresh);
  refresh.Join();
  return decision;
}

}  // namespace kv::app
