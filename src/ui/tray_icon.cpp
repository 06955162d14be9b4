#include "ui/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace kv::ui {

TrayIcon::~TrayIcon() { Delete(); }

NOTIFYICONDATAW TrayIcon::Record(UINT flags) const {
  NOTIFYICONDATAW nid = {};
  // The full wide record: the old 88/488-byte sizes describe the narrow
  // record of old shells and do not fit this build.
  nid.cbSize = sizeof(nid);
  nid.hWnd = owner_;
  nid.uID = kId;
  nid.uFlags = flags;
  nid.uCallbackMessage = kCallbackMessage;
  nid.hIcon = icon_;
  wcsncpy(nid.szTip, tip_, sizeof(nid.szTip) / sizeof(nid.szTip[0]) - 1);
  return nid;
}

bool TrayIcon::Add(HWND owner, HICON icon, const wchar_t* tip) {
  owner_ = owner;
  icon_ = icon;
  wcsncpy(tip_, tip, sizeof(tip_) / sizeof(tip_[0]) - 1);
  NOTIFYICONDATAW nid = Record(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  added_ = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
  return added_;
}

bool TrayIcon::SetImage() {
  if (!owner_) return false;
  NOTIFYICONDATAW nid = Record(NIF_ICON);
  return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

bool TrayIcon::Readd() {
  if (!owner_) return false;
  if (SetImage()) return true;
  NOTIFYICONDATAW nid = Record(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  added_ = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
  return added_ && SetImage();
}

bool TrayIcon::Delete() {
  if (!owner_ || !added_) return false;
  NOTIFYICONDATAW nid = Record(0);
  added_ = false;
  return Shell_NotifyIconW(NIM_DELETE, &nid) != FALSE;
}

}  // namespace kv::ui
