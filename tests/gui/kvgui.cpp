// Drives a running korvapp.exe by window messages for the GUI tests; each
// command prints what it saw and answers with its exit code (0 = as asked).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kFrameClass[] = L"KorvanMainFrame";
constexpr UINT kTrayCallback = WM_APP + 100;

HWND Frame() { return FindWindowW(kFrameClass, L"Korvan"); }

// The start-up progress dialog: a dialog-class window titled "Korvan".
HWND StartupDialog() { return FindWindowW(L"#32770", L"Korvan"); }

template <typename Pred>
bool WaitFor(DWORD ms, Pred pred) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    if (pred()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

// The shell answers a modify request only for an icon it knows.
bool TrayIconPresent(HWND frame) {
  NOTIFYICONDATAW nid = {};
  nid.cbSize = sizeof(nid);
  nid.hWnd = frame;
  nid.uID = 0;
  nid.uFlags = NIF_TIP;
  wcscpy(nid.szTip, L"Korvan");
  return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

// Visible popup menus (the menu window class) on this desktop.
int CountMenus() {
  int n = 0;
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, L"#32768", nullptr)) != nullptr)
    if (IsWindowVisible(w)) ++n;
  return n;
}

// Started as the "browser" with one address: appends it to the file named
// by KVGUI_URL_FILE, one line per address.
int RecordUrl(const wchar_t* url) {
  wchar_t file[MAX_PATH] = L"C:\\kvgui-url.txt";
  GetEnvironmentVariableW(L"KVGUI_URL_FILE", file, MAX_PATH);
  FILE* f = _wfopen(file, L"ab");
  if (!f) return 1;
  char text[2048] = {};
  WideCharToMultiByte(CP_UTF8, 0, url, -1, text, sizeof(text) - 1, nullptr, nullptr);
  std::fprintf(f, "%s\n", text);
  std::fclose(f);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "kvgui wait-frame MS | wait-visible 0|1 MS | wait-tray MS | wait-dialog MS | wait-gone MS |\n"
               "      foreground | rect | close-box | minimize | shutdown | tray-left |\n"
               "      watch-startup MS | about MS | close-about | tray-right-twice | menus MS |\n"
               "      cancel-menu | command ID | tray-delete | taskbar-created |\n"
               "      URL (recorded, as a browser)\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring cmd = argv[1];
  const DWORD ms = argc > 2 ? static_cast<DWORD>(_wtoi(argv[argc - 1])) : 0;

  if (cmd.rfind(L"http", 0) == 0) return RecordUrl(argv[1]);
  if (cmd == L"menus") {
    // Waits for a popup menu, then counts them once a second one had time to open.
    WaitFor(ms, [] { return CountMenus() > 0; });
    Sleep(500);
    const int n = CountMenus();
    std::printf("%d menu(s) open\n", n);
    return n == 1 ? 0 : 1;
  }
  if (cmd == L"cancel-menu") {
    HWND menu = FindWindowExW(nullptr, nullptr, L"#32768", nullptr);
    return menu && PostMessageW(menu, WM_CANCELMODE, 0, 0) ? 0 : 1;
  }
  if (cmd == L"wait-frame") {
    const bool ok = WaitFor(ms, [] { return Frame() != nullptr; });
    std::printf("frame %s\n", ok ? "found" : "missing");
    return ok ? 0 : 1;
  }
  if (cmd == L"wait-visible" && argc > 3) {
    const bool want = _wtoi(argv[2]) != 0;
    const bool ok = WaitFor(ms, [want] {
      HWND f = Frame();
      return f && (IsWindowVisible(f) != FALSE) == want;
    });
    HWND f = Frame();
    std::printf("frame %s\n", !f ? "missing" : IsWindowVisible(f) ? "visible" : "hidden");
    return ok ? 0 : 1;
  }
  if (cmd == L"wait-tray") {
    const bool ok = WaitFor(ms, [] { HWND f = Frame(); return f && TrayIconPresent(f); });
    std::printf("tray icon %s\n", ok ? "present" : "absent");
    return ok ? 0 : 1;
  }
  if (cmd == L"wait-dialog") {
    const bool ok = WaitFor(ms, [] { return StartupDialog() != nullptr; });
    std::printf("start-up dialog %s\n", ok ? "shown" : "not shown");
    return ok ? 0 : 1;
  }
  if (cmd == L"wait-gone") {
    const bool ok = WaitFor(ms, [] { return Frame() == nullptr; });
    std::printf("frame %s\n", ok ? "gone" : "still there");
    return ok ? 0 : 1;
  }
  // Everything below needs the frame.
  HWND frame = Frame();
  if (!frame) {
    if (cmd == L"watch-startup") {
      // Polls until the frame exists; reports whether the progress dialog
      // was seen on the way and when.
      const ULONGLONG start = GetTickCount64();
      long long dialog_at = -1;
      const bool ok = WaitFor(ms, [&] {
        if (dialog_at < 0 && StartupDialog())
          dialog_at = static_cast<long long>(GetTickCount64() - start);
        return Frame() != nullptr;
      });
      std::printf("dialog_ms=%lld frame_ms=%lld\n", dialog_at,
                  ok ? static_cast<long long>(GetTickCount64() - start) : -1LL);
      if (!ok) return 1;
      return dialog_at >= 0 ? 0 : 3;
    }
    std::printf("frame missing\n");
    return 1;
  }
  if (cmd == L"watch-startup") {
    std::printf("frame already there\n");
    return 1;
  }
  if (cmd == L"foreground") {
    const bool ok = GetForegroundWindow() == frame;
    std::printf("frame %s the foreground window\n", ok ? "is" : "is not");
    return ok ? 0 : 1;
  }
  if (cmd == L"rect") {
    RECT r{};
    GetWindowRect(frame, &r);
    RECT c{};
    GetClientRect(frame, &c);
    std::printf("%ld %ld %ld %ld client %ld %ld\n", r.left, r.top, r.right, r.bottom, c.right,
                c.bottom);
    return 0;
  }
  if (cmd == L"close-box") return PostMessageW(frame, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
  if (cmd == L"minimize") return PostMessageW(frame, WM_SYSCOMMAND, SC_MINIMIZE, 0) ? 0 : 1;
  if (cmd == L"tray-left")
    return PostMessageW(frame, kTrayCallback, 0, WM_LBUTTONDOWN) ? 0 : 1;
  if (cmd == L"tray-right-twice") {
    const bool ok = PostMessageW(frame, kTrayCallback, 0, WM_RBUTTONDOWN) &&
                    PostMessageW(frame, kTrayCallback, 0, WM_RBUTTONDOWN);
    return ok ? 0 : 1;
  }
  if (cmd == L"about") {
    // Opens the about box and prints its version line; close-about closes it.
    PostMessageW(frame, WM_COMMAND, 57664, 0);
    HWND box = nullptr;
    if (!WaitFor(ms, [&] { return (box = FindWindowW(L"#32770", L"About Korvan")) != nullptr; })) {
      std::printf("no about box\n");
      return 1;
    }
    Sleep(300);
    wchar_t text[200] = {};
    GetDlgItemTextW(box, 1001, text, 200);
    char narrow[400] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
    std::printf("%s\n", narrow);
    return 0;
  }
  if (cmd == L"close-about") {
    HWND box = FindWindowW(L"#32770", L"About Korvan");
    if (!box || !PostMessageW(box, WM_COMMAND, IDOK, 0)) return 1;
    return WaitFor(3000, [] { return FindWindowW(L"#32770", L"About Korvan") == nullptr; }) ? 0 : 1;
  }
  if (cmd == L"command" && argc > 2)
    return PostMessageW(frame, WM_COMMAND, static_cast<WPARAM>(_wtoi(argv[2])), 0) ? 0 : 1;
  if (cmd == L"tray-delete") {
    // What a shell restart does to the icon.
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = frame;
    nid.uID = 0;
    return Shell_NotifyIconW(NIM_DELETE, &nid) ? 0 : 1;
  }
  if (cmd == L"taskbar-created") {
    const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return PostMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
  }
  if (cmd == L"shutdown") {
    const UINT message = RegisterWindowMessageW(L"KV - shutdown");
    return PostMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
  }
  return Usage();
}
