#pragma once
// The frame's client child. It owns the panel host, the hidden window that
// will own the update-check timers and commands; until the scheduler and the
// panels arrive both stay empty.
#include <functional>

#include "app/settings.h"
#include "ui/window.h"

namespace kv::ui {

class CPanelHost : public Window {
 public:
  static constexpr wchar_t kClassName[] = L"KorvanPanelHost";
  CPanelHost();
  bool Create(HWND parent);
};

class MainView : public Window {
 public:
  static constexpr wchar_t kClassName[] = L"KorvanMainView";

  explicit MainView(app::Settings& settings);
  bool Create(HWND frame);

  HWND panel_host() const { return panel_host_.hwnd(); }
  // One wheel step over the program list panel (arrives with the panels).
  void ScrollProgramList(int steps) {}

 private:
  LRESULT OnCreate();
  LRESULT OnDestroy();
  LRESULT OnPaint();
  void PlaceFrame();

  app::Settings& settings_;
  CPanelHost panel_host_;
};

}  // namespace kv::ui
