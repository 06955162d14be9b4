#pragma once
// The client's only top-level window: mostly hidden, reached through its
// tray icon. Closing or minimising only hides it; "About" and "Exit" go to
// the application.
#include <functional>

#include "app/activity_log.h"
#include "app/service_config.h"
#include "app/settings.h"
#include "platform/machine.h"
#include "platform/win32/scoped_win.h"
#include "ui/main_view.h"
#include "ui/tray_icon.h"
#include "ui/window.h"

namespace kv::ui {

inline constexpr wchar_t kFrameClassName[] = L"KorvanMainFrame";
inline constexpr wchar_t kShutdownMessageName[] = L"KV - shutdown";

class CMainFrame : public Window {
 public:
  struct Services {
    platform::Machine& machine;
    app::Settings& settings;
    app::ActivityLog& log;
    const app::ServiceConfig& config;
    // The application's commands ("About", "Exit"); true when it took the id.
    std::function<bool(UINT)> app_command;
  };

  explicit CMainFrame(Services services);
  ~CMainFrame() override;
  bool Create();

  TrayIcon& tray() { return tray_; }

 private:
  static constexpr UINT_PTR kTrayTimer = 1;

  LRESULT OnCreate();
  LRESULT OnDestroy();
  LRESULT OnTimer(WPARAM id);
  LRESULT OnTaskbarCreated();
  LRESULT OnTrayNotify(LPARAM event);
  LRESULT OnSysCommand(WPARAM w, LPARAM l);
  LRESULT OnSize();
  LRESULT OnGetMinMaxInfo(LPARAM l);
  void OnShowMainWindow();
  void ShowTrayMenu();
  LRESULT Default(UINT message, WPARAM w, LPARAM l) override;

  Services s_;
  // Loaded without LR_SHARED, so ours to destroy; they outlive the tray icon.
  platform::win32::ScopedIcon big_icon_, small_icon_;
  MainView view_;
  TrayIcon tray_;
  UINT taskbar_created_ = 0;
  UINT shutdown_ = 0;
  bool tray_menu_open_ = false;
};

}  // namespace kv::ui
