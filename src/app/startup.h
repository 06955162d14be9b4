#pragma once
// The window-free steps of the client's start-up: the older product's
// leftovers, the COM AppID keys, page addresses, the build number text, and
// the start-up refresh (a job on a worker thread that the user-interface
// thread waits for, with or without a progress dialog).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/data_folder.h"
#include "app/progress_tracker.h"
#include "app/service_config.h"
#include "platform/machine.h"

namespace kv::app {

inline constexpr char kOldProductName[] = "Lumaro";
inline constexpr char kInstanceMutexName[] = "mx::kv: app";
inline constexpr char kMainWindowTitle[] = "Korvan";
inline constexpr char kAppIdGuid[] = "{5D7F7343-53AA-4FC1-9C0E-C3D376480D51}";
inline constexpr char kAppIdExeName[] = "LMR.EXE";

// Deletes the older product's value "Lumaro" from HKCU's Run key; never
// creates the key, and every failure is silent. Other values stay.
void RemoveOldProductAutorun(platform::Registry& registry);

enum class MigrationResult { NoOldFile, Moved, NewFileKept, Failed };

// Moves <app data>\Lumaro\login.xml to <data folder>\login.xml, creating the
// data folder; an existing new file is never replaced (the old one stays).
MigrationResult MigrateOldLoginFile(DataFolder& folders);

// The AppID keys of the registration script below HKEY_CLASSES_ROOT\AppID.
// Unregistration removes the two keys, never AppID itself.
bool RegisterAppId(platform::Registry& registry);
bool UnregisterAppId(platform::Registry& registry);

// The build number text: the third version component in decimal, "???"
// when the version has fewer than three components.
std::string FormatBuildNumber(const std::vector<std::uint32_t>& version);

std::string UninstalledPageUrl(const ServiceConfig& config, std::string_view user_id,
                               std::string_view build);
std::string BugReportUrl(const ServiceConfig& config);

// What the user-interface thread does after the first wait for the refresh.
enum class StartupWait { Silent, ShowDialog };

// Silent when the job has ended, is at least 80 % done, or the start is
// "-autorun"; otherwise the progress dialog.
StartupWait DecideStartupWait(bool job_ended, double progress, bool autorun);

inline constexpr std::chrono::milliseconds kStartupFirstWait{5000};
inline constexpr std::chrono::milliseconds kStartupDialogTick{300};
inline constexpr std::chrono::milliseconds kStartupDialogTickWait{50};

// One job on its own worker thread. The hooks run on the worker around the
// job (COM on Windows).
class StartupRefresh {
 public:
  struct ThreadHooks {
    std::function<bool()> enter;  // false: the job is skipped
    std::function<void()> leave;  // after the job, when enter succeeded
  };

  StartupRefresh(std::function<void()> job, const ProgressRange& progress, ThreadHooks hooks = {});
  ~StartupRefresh();  // joins
  StartupRefresh(const StartupRefresh&) = delete;
  StartupRefresh& operator=(const StartupRefresh&) = delete;

  void Start();
  // True when the job has ended within `timeout`.
  bool WaitFor(std::chrono::milliseconds timeout);
  void Join();
  bool ended();
  double progress() const { return progress_.current(); }

 private:
  std::function<void()> job_;
  const ProgressRange& progress_;
  ThreadHooks hooks_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ended_ = false;
};

// One 300 ms tick of the progress dialog: waits briefly for the job and says
// where the bar goes and whether the dialog closes.
struct StartupDialogTick {
  bool close = false;
  int bar = 0;
};
StartupDialogTick TickStartupDialog(StartupRefresh& refresh,
                                    std::chrono::milliseconds wait = kStartupDialogTickWait);

// The whole start-up refresh step: start, first wait, then either a silent
// wait or `show_dialog` (which returns once the job has ended). Returns the
// decision taken.
StartupWait RunStartupRefresh(StartupRefresh& refresh, bool autorun,
                              const std::function<void(StartupRefresh&)>& show_dialog,
                              std::chrono::milliseconds first_wait = kStartupFirstWait);

}  // namespace kv::app
