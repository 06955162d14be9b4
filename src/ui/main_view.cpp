#include "ui/main_view.h"

#include "app/placement.h"
#include "resource.h"

namespace kv::ui {

CPanelHost::CPanelHost() {
  // Command 1019 starts a user-launched check once the scheduler exists.
  map_.OnCommand(ID_CHECK_UPDATES, [] {});
}

bool CPanelHost::Create(HWND parent) {
  RegisterClass(kClassName, nullptr, nullptr);
  return Window::Create(kClassName, L"", WS_CHILD, 0, RECT{0, 0, 0, 0}, parent, nullptr);
}

MainView::MainView(app::Settings& settings) : settings_(settings) {
  map_.On(WM_CREATE, [this](WPARAM, LPARAM) { return OnCreate(); });
  map_.On(WM_DESTROY, [this](WPARAM, LPARAM) { return OnDestroy(); });
  map_.On(WM_PAINT, [this](WPARAM, LPARAM) { return OnPaint(); });
}

bool MainView::Create(HWND frame) {
  RegisterClass(kClassName, nullptr, nullptr);
  RECT r{};
  GetClientRect(frame, &r);
  return Window::Create(kClassName, L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, r, frame,
                        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDW_MAIN_VIEW)));
}

LRESULT MainView::OnCreate() {
  if (!panel_host_.Create(hwnd())) return -1;
  PlaceFrame();
  return 0;
}

void MainView::PlaceFrame() {
  HWND frame = GetParent(hwnd());
  const app::FrameMetrics metrics{GetSystemMetrics(SM_CXSIZEFRAME), GetSystemMetrics(SM_CYSIZEFRAME),
                                  GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CYMENU)};
  const app::Size screen{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  const app::WindowRect r =
      app::ChooseFramePlacement(settings_.MainWndPlacement(), screen, metrics);
  SetWindowPos(frame, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT MainView::OnDestroy() {
  // Stored whatever the frame's state; a minimised frame's rectangle is
  // rejected by the placement rule at the next start.
  HWND frame = GetParent(hwnd());
  RECT r{};
  if (frame && IsWindow(frame) && GetWindowRect(frame, &r))
    settings_.SetMainWndPlacement({r.left, r.top, r.right, r.bottom});
  return 0;
}

LRESULT MainView::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  FillRect(dc, &ps.rcPaint, GetSysColorBrush(COLOR_WINDOW));
  EndPaint(hwnd(), &ps);
  return 0;
}

}  // namespace kv::ui
