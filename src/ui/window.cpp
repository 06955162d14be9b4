#include "ui/window.h"

#include <utility>

namespace kv::ui {

HINSTANCE AppInstance() { return GetModuleHandleW(nullptr); }

bool MessageMap::Dispatch(UINT message, WPARAM w, LPARAM l, LRESULT& result) const {
  // Menu and accelerator commands (not control notifications) go to the command map.
  if (message == WM_COMMAND && HIWORD(w) <= 1) {
    auto it = commands_.find(LOWORD(w));
    if (it != commands_.end()) {
      it->second();
      result = 0;
      return true;
    }
  }
  auto it = messages_.find(message);
  if (it == messages_.end()) return false;
  result = it->second(w, l);
  return true;
}

Window::~Window() { Destroy(); }

void Window::Destroy() {
  if (!hwnd_) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(std::exchange(hwnd_, nullptr));
}

bool Window::RegisterClass(const wchar_t* class_name, HICON icon, HBRUSH background) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &Window::Proc;
  wc.hInstance = AppInstance();
  wc.hIcon = icon;
  wc.hIconSm = icon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = class_name;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool Window::Create(const wchar_t* class_name, const wchar_t* title, DWORD style,
                    DWORD ex_style, const RECT& r, HWND parent, HMENU menu_or_id) {
  return CreateWindowExW(ex_style, class_name, title, style, r.left, r.top, r.right - r.left,
                         r.bottom - r.top, parent, menu_or_id, AppInstance(), this) != nullptr;
}

LRESULT Window::Default(UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcW(hwnd_, message, w, l);
}

LRESULT CALLBACK Window::Proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  // Messages sent before WM_NCCREATE (WM_GETMINMAXINFO) have no object yet.
  if (!self) return DefWindowProcW(hwnd, message, w, l);
  LRESULT result = 0;
  if (!self->map_.Dispatch(message, w, l, result)) result = self->Default(message, w, l);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

INT_PTR Dialog::DoModal(HWND parent) {
  return DialogBoxParamW(AppInstance(), MAKEINTRESOURCEW(template_id_), parent, &Dialog::Proc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(l);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return FALSE;
  LRESULT result = 0;
  if (!self->map_.Dispatch(message, w, l, result)) {
    // OK and Cancel end the dialog unless the dialog says otherwise.
    if (message == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
      self->End(LOWORD(w));
      return TRUE;
    }
    return message == WM_INITDIALOG ? TRUE : FALSE;
  }
  return static_cast<INT_PTR>(result);
}

}  // namespace kv::ui
