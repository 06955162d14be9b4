#pragma once
// Small window and dialog helpers in a message-map style: each window
// registers a handler per message or command in its constructor, and the
// shared window procedure dispatches to them.
#include <windows.h>

#include <functional>
#include <map>

namespace kv::ui {

class MessageMap {
 public:
  using Handler = std::function<LRESULT(WPARAM, LPARAM)>;
  using CommandHandler = std::function<void()>;

  void On(UINT message, Handler handler) { messages_[message] = std::move(handler); }
  void OnCommand(UINT id, CommandHandler handler) { commands_[id] = std::move(handler); }

  // True when a handler took the message; `result` is its answer.
  bool Dispatch(UINT message, WPARAM w, LPARAM l, LRESULT& result) const;

 private:
  std::map<UINT, Handler> messages_;
  std::map<UINT, CommandHandler> commands_;
};

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  HWND hwnd() const { return hwnd_; }

  static bool RegisterClass(const wchar_t* class_name, HICON icon, HBRUSH background);
  bool Create(const wchar_t* class_name, const wchar_t* title, DWORD style, DWORD ex_style,
              const RECT& rect, HWND parent, HMENU menu_or_id);

 protected:
  // Messages without a handler; the default window procedure unless overridden.
  virtual LRESULT Default(UINT message, WPARAM w, LPARAM l);
  // Destroys the window without calling back into this object, which may
  // already be partly destroyed.
  void Destroy();

  MessageMap map_;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM w, LPARAM l);
  HWND hwnd_ = nullptr;
};

// A modal dialog from a dialog template resource.
class Dialog {
 public:
  explicit Dialog(int template_id) : template_id_(template_id) {}
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog() = default;

  INT_PTR DoModal(HWND parent);
  HWND hwnd() const { return hwnd_; }
  void End(INT_PTR result) { EndDialog(hwnd_, result); }

 protected:
  // Handlers answer TRUE or FALSE as a dialog procedure does; a handler of
  // WM_INITDIALOG returns TRUE to let the system set the focus.
  MessageMap map_;

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM w, LPARAM l);
  int template_id_;
  HWND hwnd_ = nullptr;
};

HINSTANCE AppInstance();

}  // namespace kv::ui
