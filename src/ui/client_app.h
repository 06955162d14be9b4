#pragma once
// The process's application object: start-up (one-shot tails, single
// instance, COM, the older product's leftovers, the start-up refresh, the
// main frame), the message loop, "About", "Exit" and the shut-down.
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/activity_log.h"
#include "app/command_line.h"
#include "app/data_folder.h"
#include "app/service_config.h"
#include "app/settings.h"
#include "platform/machine.h"
#include "platform/win32/scoped_win.h"
#include "ui/main_frame.h"

namespace kv::ui {

class ClientApp {
 public:
  ClientApp(platform::Machine& machine, std::string tail, std::string full_command_line);
  ~ClientApp();

  // Initialisation, the message loop when it asks for one, then the exit step.
  int Run();

  // The software-list refresh run at start-up; empty until the list exists.
  void SetStartupJob(std::function<void()> job) { startup_job_ = std::move(job); }

 private:
  bool InitInstance();
  int ExitInstance();
  bool OnCommand(UINT id);
  void OnAppExit();
  void OnAppAbout();
  void RunStartupRefresh();
  void OpenUninstalledPage();

  platform::Machine& machine_;
  std::string tail_, full_;
  app::StartRequest request_;
  app::Settings settings_;
  app::DataFolder folders_;
  app::ActivityLog& log_;
  app::ServiceConfig config_;
  std::string build_;
  std::optional<platform::win32::ScopedComInit> com_;
  std::function<void()> startup_job_;
  std::unique_ptr<CMainFrame> frame_;
};

// Hook points; the crash handler does nothing yet.
void InstallCrashHandler();  // the process-wide unhandled-exception handler
// The usage-log upload before the uninstalled page.
void UploadUsageLog(platform::Machine& machine, const app::ServiceConfig& config,
                    const std::string& build);
std::string CurrentUserId();  // the account's user id; empty while there is none

}  // namespace kv::ui
