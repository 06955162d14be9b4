#pragma once
// The modal dialogs of start-up and "About".
#include <string>

#include "app/startup.h"
#include "ui/window.h"

namespace kv::ui {

// "Korvan is starting. Please wait...": polls the refresh every 300 ms and
// closes with result 1 once it has ended. It has no buttons and cannot be
// dismissed early.
class CStartupDialog : public Dialog {
 public:
  explicit CStartupDialog(app::StartupRefresh& refresh);

 private:
  static constexpr UINT_PTR kTimer = 1;
  app::StartupRefresh& refresh_;
};

// "Version %s build %s".
class CAboutDialog : public Dialog {
 public:
  CAboutDialog(std::string version, std::string build);

 private:
  std::string version_, build_;
};

}  // namespace kv::ui
