#include "ui/dialogs.h"

#include <commctrl.h>

#include "platform/win32/wide.h"
#include "resource.h"
#include "text/format.h"

namespace kv::ui {

CStartupDialog::CStartupDialog(app::StartupRefresh& refresh)
    : Dialog(IDD_STARTUP), refresh_(refresh) {
  map_.On(WM_INITDIALOG, [this](WPARAM, LPARAM) {
    SetTimer(hwnd(), kTimer, static_cast<UINT>(app::kStartupDialogTick.count()), nullptr);
    return LRESULT{TRUE};
  });
  map_.On(WM_TIMER, [this](WPARAM id, LPARAM) {
    if (id != kTimer) return LRESULT{FALSE};
    const app::StartupDialogTick tick = app::TickStartupDialog(refresh_);
    SendDlgItemMessageW(hwnd(), IDC_STARTUP_PROGRESS, PBM_SETPOS, tick.bar, 0);
    if (tick.close) {
      KillTimer(hwnd(), kTimer);
      End(1);
    }
    return LRESULT{TRUE};
  });
  // Esc and the close request must not end the wait early.
  map_.OnCommand(IDCANCEL, [] {});
  map_.On(WM_CLOSE, [](WPARAM, LPARAM) { return LRESULT{TRUE}; });
}

CAboutDialog::CAboutDialog(std::string version, std::string build)
    : Dialog(IDD_ABOUTBOX), version_(std::move(version)), build_(std::move(build)) {
  map_.On(WM_INITDIALOG, [this](WPARAM, LPARAM) {
    const std::string text = text::Format("Version %s build %s", version_.c_str(), build_.c_str());
    SetDlgItemTextW(hwnd(), IDC_ABOUT_VERSION, platform::win32::Widen(text).c_str());
    return LRESULT{TRUE};
  });
}

}  // namespace kv::ui
