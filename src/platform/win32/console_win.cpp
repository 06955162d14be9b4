#include <windows.h>
#include <shellapi.h>

#include "platform/console.h"
#include "platform/win32/wide.h"

namespace kv::platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int n = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (!wide) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> out;
  for (int i = 1; i < n; ++i) out.push_back(win32::Narrow(wide[i]));
  LocalFree(wide);
  return out;
}

void PrepareConsole() { SetConsoleOutputCP(CP_UTF8); }

}  // namespace kv::platform
