#include "ui/client_app.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/log_messages.h"
#include "app/shell_actions.h"
#include "app/startup.h"
#include "platform/win32/wide.h"
#include "platform/http_transport.h"
#include "service/software_list_store.h"
#include "service/usage_log_upload.h"
#include "service/user_account.h"
#include "resource.h"
#include "ui/dialogs.h"
#include "ui/own_version.h"

namespace kv::ui {

using platform::win32::Widen;

void InstallCrashHandler() {}
void UploadUsageLog(platform::Machine& machine, const app::ServiceConfig& config,
                    const std::string& build) {
  auto http = platform::MakeSystemHttpTransport();
  service::ServiceConnection connection(*http, config);
  service::RequestOutcome outcome;
  service::UsageLogUpload(app::ActivityLog::Instance(), machine.files, connection,
                          service::UserAccount::Instance().Identity(), build, outcome);
}

std::string CurrentUserId() { return service::UserAccount::Instance().record().id; }

ClientApp::ClientApp(platform::Machine& machine, std::string tail, std::string full)
    : machine_(machine),
      tail_(std::move(tail)),
      full_(std::move(full)),
      request_(app::ClassifyCommandLine(tail_, full_)),
      settings_(machine.registry),
      folders_(machine),
      log_(app::ActivityLog::Instance()),
      config_(app::ServiceConfig::Load(machine.registry)),
      build_(app::FormatBuildNumber(OwnProductVersion())) {}

ClientApp::~ClientApp() = default;

int ClientApp::Run() {
  int code = 0;
  if (InitInstance() && frame_) {
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    code = static_cast<int>(m.wParam);
  }
  ExitInstance();
  return code;
}

bool ClientApp::InitInstance() {
  InstallCrashHandler();
  // The company key roots every setting: see app::kAppKeyPath.
  log_.Open(app::kProductName, /*derive=*/true, folders_.GetAppDataFolder());
  log_.SetDisabled(settings_.DisablePUL() != 0);
  // Data files that are broken or cannot be read are reported in the log.
  folders_.SetLog(&log_);
  log_.Write("%s", msg::kSeparator);
  log_.Write(msg::kStarted, request_.StartedBy(), build_.c_str());

  if (request_.open_after_uninst) {
    OpenUninstalledPage();
    return false;
  }

  // Created without an owner and never closed: it lives as long as the process.
  CreateMutexW(nullptr, FALSE, Widen(app::kInstanceMutexName).c_str());
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Found by class too, so the first instance's start-up dialog (also
    // titled "Korvan") is never mistaken for its frame.
    if (HWND first = FindWindowW(kFrameClassName, Widen(app::kMainWindowTitle).c_str())) {
      ShowWindow(first, SW_SHOW);
      SetForegroundWindow(first);
    }
    return false;
  }

  com_.emplace();
  if (!*com_) return false;
  if (request_.registration != app::Registration::None) {
    // The process has no type library and no classes: the AppID keys are all.
    if (request_.registration == app::Registration::UnregServer) {
      app::UnregisterAppId(machine_.registry);
    } else {
      app::RegisterAppId(machine_.registry);
    }
    com_.reset();
    return false;
  }

  if (request_.embedding) return true;  // no window: the process ends

  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  app::RemoveOldProductAutorun(machine_.registry);
  app::MigrateOldLoginFile(folders_);

  RunStartupRefresh();

  frame_ = std::make_unique<CMainFrame>(CMainFrame::Services{
      machine_, settings_, log_, config_, [this](UINT id) { return OnCommand(id); }});
  if (!frame_->Create()) {
    frame_.reset();
    return false;
  }
  if (request_.autorun) {
    ShowWindow(frame_->hwnd(), SW_HIDE);
  } else {
    ShowWindow(frame_->hwnd(), SW_SHOW);
    UpdateWindow(frame_->hwnd());
  }
  return true;
}

void ClientApp::OpenUninstalledPage() {
  log_.Write(msg::kOpenAfterUninstPage);
  log_.Write(msg::kUninstalled);
  UploadUsageLog(machine_, config_, build_);
  app::OpenUrl(machine_, app::UninstalledPageUrl(config_, CurrentUserId(), build_));
}

namespace {

// Test hook: KORVAN_TEST_STARTUP_JOB="<milliseconds>[,<percent>]" replaces the
// empty start-up job by one that reports <percent> and then takes that long.
std::function<void()> TestStartupJob() {
  wchar_t value[64];
  const DWORD n = GetEnvironmentVariableW(L"KORVAN_TEST_STARTUP_JOB", value, 64);
  if (n == 0 || n >= 64) return {};
  wchar_t* rest = nullptr;
  const long ms = wcstol(value, &rest, 10);
  const double percent = (rest && *rest == L',') ? wcstod(rest + 1, nullptr) : 0.0;
  if (ms <= 0) return {};
  return [ms, percent] {
    app::ProgressTracker::instance().range().set_current(percent);
    Sleep(static_cast<DWORD>(ms));
  };
}

}  // namespace

void ClientApp::RunStartupRefresh() {
  std::function<void()> job = startup_job_;
  // The software list's merge with a fresh inventory; a failed refresh keeps
  // the stored list and the next check refreshes again.
  if (!job) job = [] { service::SoftwareListStore::Instance().Refresh(); };
  if (auto test_job = TestStartupJob()) job = std::move(test_job);
  app::StartupRefresh refresh(
      job, app::ProgressTracker::instance().range(),
      {[] { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); },
       [] { CoUninitialize(); }});
  app::RunStartupRefresh(refresh, request_.autorun, [](app::StartupRefresh& r) {
    CStartupDialog dialog(r);
    // Without the dialog there is nothing to show the progress; wait silently.
    if (dialog.DoModal(nullptr) == -1) r.Join();
  });
}

bool ClientApp::OnCommand(UINT id) {
  switch (id) {
    case ID_APP_EXIT:
      OnAppExit();
      return true;
    case ID_APP_ABOUT:
      OnAppAbout();
      return true;
  }
  return false;
}

void ClientApp::OnAppExit() {
  log_.Write(msg::kExitByUser);
  if (frame_ && frame_->hwnd()) DestroyWindow(frame_->hwnd());
}

void ClientApp::OnAppAbout() {
  log_.Write(msg::kShowAbout);
  CAboutDialog about(VersionText(OwnProductVersion()), build_);
  about.DoModal(frame_ ? frame_->hwnd() : nullptr);
}

int ClientApp::ExitInstance() {
  com_.reset();
  if (frame_) frame_->tray().Delete();
  frame_.reset();
  // The log object lives until the process ends; this is its last flush.
  log_.Flush().IgnoreError();  // nowhere left to report it
  return 0;
}

}  // namespace kv::ui
