#pragma once
// The frame's icon in the notification area, through the wide
// Shell_NotifyIconW record at its full size.
#include <windows.h>
#include <shellapi.h>

namespace kv::ui {

class TrayIcon {
 public:
  static constexpr UINT kId = 0;
  static constexpr UINT kCallbackMessage = WM_APP + 100;  // 0x8064

  TrayIcon() = default;
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;
  ~TrayIcon();

  // Shell add request with the callback message, the icon and the tooltip.
  bool Add(HWND owner, HICON icon, const wchar_t* tip);
  // Shell modify request with the current image only.
  bool SetImage();
  // After "TaskbarCreated": set the image, and when the shell no longer knows
  // the icon add it again first.
  bool Readd();
  bool Delete();

  bool added() const { return added_; }

 private:
  NOTIFYICONDATAW Record(UINT flags) const;

  HWND owner_ = nullptr;
  HICON icon_ = nullptr;
  wchar_t tip_[128] = {};
  bool added_ = false;
};

}  // namespace kv::ui
