#pragma once
// Shell port: special folders, the running executable, and opening files and
// URLs. Later additions (environment strings, search path, shortcuts,
// version resources, icons) go here in the same style.
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

enum class SpecialFolder {
  RoamingAppData,   // CSIDL_APPDATA
  LocalAppData,     // CSIDL_LOCAL_APPDATA
  StartMenu,        // CSIDL_STARTMENU
  Programs,         // CSIDL_PROGRAMS
  CommonStartMenu,  // CSIDL_COMMON_STARTMENU
  CommonPrograms,   // CSIDL_COMMON_PROGRAMS
  Desktop,          // CSIDL_DESKTOPDIRECTORY
  CommonDesktop,    // CSIDL_COMMON_DESKTOPDIRECTORY
  ProgramFiles,     // CSIDL_PROGRAM_FILES
  ProgramFilesX86,  // CSIDL_PROGRAM_FILESX86
  Windows,          // the Windows directory
  System,           // the system directory
};

enum class ShowCommand { Normal, Hidden };

class Shell {
 public:
  virtual ~Shell() = default;
  // The folder without a trailing backslash; nullopt when the shell has none.
  virtual std::optional<std::string> GetFolder(SpecialFolder folder) = 0;
  // Full path of the running executable.
  virtual std::string ExecutablePath() = 0;
  // ShellExecute: the result is greater than 32 on success. `on_desktop_window`
  // runs it on behalf of the desktop window (mailto links).
  virtual long Execute(std::string_view verb, std::string_view file,
                       std::string_view parameters, ShowCommand show,
                       bool on_desktop_window = false) = 0;
};

}  // namespace kv::platform
