#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include "platform/win32/wide.h"
#include "platform/win32/win32_adapters.h"

namespace kv::platform::win32 {

std::optional<std::string> Win32Shell::GetFolder(SpecialFolder folder) {
  wchar_t buf[MAX_PATH];
  if (folder == SpecialFolder::Windows) {
    const UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    return n && n < MAX_PATH ? std::optional(Narrow({buf, n})) : std::nullopt;
  }
  if (folder == SpecialFolder::System) {
    const UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    return n && n < MAX_PATH ? std::optional(Narrow({buf, n})) : std::nullopt;
  }
  int csidl = 0;
  switch (folder) {
    case SpecialFolder::RoamingAppData: csidl = CSIDL_APPDATA; break;
    case SpecialFolder::LocalAppData: csidl = CSIDL_LOCAL_APPDATA; break;
    case SpecialFolder::StartMenu: csidl = CSIDL_STARTMENU; break;
    case SpecialFolder::Programs: csidl = CSIDL_PROGRAMS; break;
    case SpecialFolder::CommonStartMenu: csidl = CSIDL_COMMON_STARTMENU; break;
    case SpecialFolder::CommonPrograms: csidl = CSIDL_COMMON_PROGRAMS; break;
    case SpecialFolder::Desktop: csidl = CSIDL_DESKTOPDIRECTORY; break;
    case SpecialFolder::CommonDesktop: csidl = CSIDL_COMMON_DESKTOPDIRECTORY; break;
    case SpecialFolder::ProgramFiles: csidl = CSIDL_PROGRAM_FILES; break;
    case SpecialFolder::ProgramFilesX86: csidl = CSIDL_PROGRAM_FILESX86; break;
    default: return std::nullopt;
  }
  if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK) return std::nullopt;
  std::string out = Narrow(buf);
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

std::string Win32Shell::ExecutablePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return Narrow({buf.data(), n});
    buf.resize(buf.size() * 2);
  }
}

UserLocale Win32Shell::UserDefaultLocale() {
  auto read = [](LCTYPE type) {
    wchar_t buf[16] = {};
    const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 16);
    return n > 1 ? Narrow({buf, static_cast<size_t>(n - 1)}) : std::string();
  };
  return {read(LOCALE_IDEFAULTLANGUAGE), read(LOCALE_SABBREVLANGNAME)};
}

long Win32Shell::Execute(std::string_view verb, std::string_view file, std::string_view parameters,
                         ShowCommand show, bool on_desktop_window) {
  const std::wstring wverb = Widen(verb), wfile = Widen(file), wparams = Widen(parameters);
  HINSTANCE r = ShellExecuteW(on_desktop_window ? GetDesktopWindow() : nullptr,
                              wverb.empty() ? nullptr : wverb.c_str(), wfile.c_str(),
                              wparams.empty() ? nullptr : wparams.c_str(), nullptr,
                              show == ShowCommand::Normal ? SW_SHOWNORMAL : SW_HIDE);
  return static_cast<long>(reinterpret_cast<INT_PTR>(r));
}

FileTime Win32Clock::NowUtc() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FileTime Win32Clock::NowLocal() {
  FILETIME utc, local;
  GetSystemTimeAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  return (static_cast<FileTime>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
}

}  // namespace kv::platform::win32

namespace kv::platform {

Machine& SystemMachine() {
  static win32::Win32Registry registry;
  static win32::Win32FileSystem files;
  static win32::Win32Shell shell;
  static win32::Win32Clock clock;
  static Machine machine{registry, files, shell, clock, SystemIdentifiers()};
  return machine;
}

}  // namespace kv::platform
