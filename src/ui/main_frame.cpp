#include "ui/main_frame.h"

#include "app/log_messages.h"
#include "app/placement.h"
#include "app/shell_actions.h"
#include "app/startup.h"
#include "resource.h"

namespace kv::ui {

CMainFrame::CMainFrame(Services services) : s_(std::move(services)), view_(s_.settings) {
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
  shutdown_ = RegisterWindowMessageW(kShutdownMessageName);

  map_.On(WM_CREATE, [this](WPARAM, LPARAM) { return OnCreate(); });
  map_.On(WM_DESTROY, [this](WPARAM, LPARAM) { return OnDestroy(); });
  map_.On(WM_TIMER, [this](WPARAM w, LPARAM) { return OnTimer(w); });
  map_.On(taskbar_created_, [this](WPARAM, LPARAM) { return OnTaskbarCreated(); });
  map_.On(shutdown_, [this](WPARAM, LPARAM) {
    PostMessageW(hwnd(), WM_COMMAND, ID_APP_EXIT, 0);
    return LRESULT{0};
  });
  map_.On(TrayIcon::kCallbackMessage, [this](WPARAM, LPARAM l) { return OnTrayNotify(l); });
  map_.On(WM_SYSCOMMAND, [this](WPARAM w, LPARAM l) { return OnSysCommand(w, l); });
  map_.On(WM_SIZE, [this](WPARAM, LPARAM) { return OnSize(); });
  map_.On(WM_SETFOCUS, [this](WPARAM, LPARAM) {
    if (view_.hwnd()) SetFocus(view_.hwnd());
    return LRESULT{0};
  });
  map_.On(WM_GETMINMAXINFO, [this](WPARAM, LPARAM l) { return OnGetMinMaxInfo(l); });
  map_.On(WM_MOUSEWHEEL, [this](WPARAM w, LPARAM) {
    view_.ScrollProgramList(GET_WHEEL_DELTA_WPARAM(w) > 0 ? -1 : 1);
    return LRESULT{0};
  });

  map_.On(WM_ENDSESSION, [this](WPARAM ending, LPARAM) {
    // The session ends without a message loop exit: keep the log's lines.
    if (ending) {
      tray_.Delete();
      s_.log.Flush().IgnoreError();  // nowhere left to report it
    }
    return LRESULT{0};
  });

  map_.OnCommand(ID_SHOW_MAIN_WINDOW, [this] { OnShowMainWindow(); });
  // The notification-settings and General settings dialogs open here once
  // they exist; until then these commands do nothing.
  map_.OnCommand(ID_CUSTOMIZE_NOTIFICATIONS, [] {});
  map_.OnCommand(ID_GENERAL_SETTINGS, [] {});
  map_.OnCommand(ID_REPORT_BUG, [this] { app::OpenUrl(s_.machine, app::BugReportUrl(s_.config)); });
  map_.OnCommand(ID_CHECK_UPDATES, [this] {
    if (view_.panel_host()) PostMessageW(view_.panel_host(), WM_COMMAND, ID_CHECK_UPDATES, 0);
  });
}

CMainFrame::~CMainFrame() {
  // The window and its class use the icons: both go before the icons do.
  Destroy();
  UnregisterClassW(kFrameClassName, AppInstance());
}

bool CMainFrame::Create() {
  big_icon_.reset(static_cast<HICON>(LoadImageW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
  RegisterClass(kFrameClassName, big_icon_.get(), nullptr);
  HMENU menu = LoadMenuW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  // MainView places the frame while it is created.
  const RECT r{0, 0, 508, 657};
  return Window::Create(kFrameClassName, L"Korvan", WS_OVERLAPPEDWINDOW, 0, r, nullptr, menu);
}

LRESULT CMainFrame::OnCreate() {
  if (!view_.Create(hwnd())) return -1;
  SetTimer(hwnd(), kTrayTimer, 300, nullptr);
  return 0;
}

LRESULT CMainFrame::OnDestroy() {
  KillTimer(hwnd(), kTrayTimer);
  tray_.Delete();
  PostQuitMessage(0);
  return 0;
}

LRESULT CMainFrame::OnTimer(WPARAM id) {
  if (id != kTrayTimer) return 0;
  KillTimer(hwnd(), kTrayTimer);
  if (!small_icon_) {
    small_icon_.reset(static_cast<HICON>(
        LoadImageW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0)));
  }
  tray_.Add(hwnd(), small_icon_.get(), L"Korvan");
  return 0;
}

LRESULT CMainFrame::OnTaskbarCreated() {
  // Before timer 1 has fired there is nothing to bring back yet.
  if (small_icon_) tray_.Readd();
  return 0;
}

LRESULT CMainFrame::OnTrayNotify(LPARAM event) {
  switch (LOWORD(event)) {
    case WM_LBUTTONDOWN:
      s_.log.Write(msg::kTrayLeftClick);
      if (IsIconic(hwnd()) || !IsWindowVisible(hwnd())) {
        OnShowMainWindow();
      } else {
        ShowWindow(hwnd(), SW_HIDE);
      }
      break;
    case WM_RBUTTONDOWN:
      s_.log.Write(msg::kTrayRightClick);
      ShowTrayMenu();
      break;
  }
  return 0;
}

void CMainFrame::ShowTrayMenu() {
  if (tray_menu_open_) return;
  HMENU menu = LoadMenuW(AppInstance(), MAKEINTRESOURCEW(IDR_TRAYMENU));
  if (!menu) return;
  tray_menu_open_ = true;
  HMENU popup = GetSubMenu(menu, 0);
  SetMenuDefaultItem(popup, ID_SHOW_MAIN_WINDOW, FALSE);
  // Foreground first, so that the menu closes when the user clicks elsewhere.
  SetForegroundWindow(hwnd());
  POINT pt{};
  GetCursorPos(&pt);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      popup, TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, pt.x, pt.y, 0,
      hwnd(), nullptr));
  PostMessageW(hwnd(), WM_NULL, 0, 0);
  DestroyMenu(menu);
  tray_menu_open_ = false;
  if (chosen) SendMessageW(hwnd(), WM_COMMAND, chosen, 0);
}

LRESULT CMainFrame::OnSysCommand(WPARAM w, LPARAM l) {
  const UINT command = static_cast<UINT>(w & 0xFFF0);
  if (command == SC_CLOSE || command == SC_MINIMIZE) {
    s_.log.Write(msg::kCloseMainWindow, command == SC_CLOSE ? "SC_CLOSE" : "SC_MINIMIZE");
    ShowWindow(hwnd(), SW_HIDE);
    return 0;
  }
  return DefWindowProcW(hwnd(), WM_SYSCOMMAND, w, l);
}

void CMainFrame::OnShowMainWindow() {
  s_.log.Write(msg::kShowMainWindow);
  ShowWindow(hwnd(), IsIconic(hwnd()) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd());
}

LRESULT CMainFrame::OnSize() {
  RECT r{};
  GetClientRect(hwnd(), &r);
  if (view_.hwnd()) MoveWindow(view_.hwnd(), 0, 0, r.right, r.bottom, TRUE);
  return 0;
}

LRESULT CMainFrame::OnGetMinMaxInfo(LPARAM l) {
  auto* info = reinterpret_cast<MINMAXINFO*>(l);
  const app::Size min = app::MinimumTrackSize(GetSystemMetrics(SM_CXVSCROLL));
  info->ptMinTrackSize.x = min.width;
  info->ptMinTrackSize.y = min.height;
  return 0;
}

LRESULT CMainFrame::Default(UINT message, WPARAM w, LPARAM l) {
  // Commands the frame does not handle go to the application, as in a
  // framework's command routing.
  if (message == WM_COMMAND && HIWORD(w) <= 1 && s_.app_command &&
      s_.app_command(LOWORD(w)))
    return 0;
  return Window::Default(message, w, l);
}

}  // namespace kv::ui
