#pragma once
// Shell port: special folders, the running executable, opening files and
// URLs, environment strings, the search path, shortcuts, version resources
// and icons.
#include <memory>
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

// What a shell-link (.lnk) file points at, as stored.
struct ShellLinkTarget {
  std::string path;
  std::string arguments;
};

// The user's default locale as Windows names it.
struct UserLocale {
  std::string language_id;        // "0409": the default language, four hexadecimal digits
  std::string abbreviated_name;   // "ENU"
};

// The two icon sizes the software list draws.
enum class IconSize { Large, Small };
constexpr int IconPixels(IconSize size) { return size == IconSize::Large ? 48 : 16; }

// An icon extracted from a file, at the size asked for: Windows scales the
// image it chose to that size. The Win32 adapter exposes its HICON
// (platform/win32/icon_win.h).
class Icon {
 public:
  virtual ~Icon() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
};

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

  // Environment strings ("%ProgramFiles%\\x") expanded; unknown names stay.
  virtual std::string ExpandEnvironment(std::string_view text) = 0;
  // The search-path lookup (application folder, current folder, system
  // folders, PATH) with `extension` as the default extension.
  virtual std::optional<std::string> FindOnSearchPath(std::string_view name,
                                                      std::string_view extension) = 0;
  // The raw VS_VERSIONINFO block of an executable; nullopt when it has none.
  virtual std::optional<std::string> ReadVersionResource(std::string_view path) = 0;
  // An installer-advertised shortcut's installed component path (Windows
  // Installer, loaded at run time); nullopt when not advertised or unknown.
  virtual std::optional<std::string> AdvertisedShortcutTarget(std::string_view link_path) = 0;
  // An ordinary shortcut's target; nullopt when it cannot be loaded.
  virtual std::optional<ShellLinkTarget> ReadShellLink(std::string_view link_path) = 0;
  // An icon of an .exe, .dll or .ico file, as ExtractIconEx numbers them:
  // `index` >= 0 is the position among the file's icon groups, -N the group
  // with resource id N; an .ico file is one group at index 0. The image is
  // chosen as ChooseIconImage (platform/icon_resources.h) describes.
  // nullptr when the file has no such icon or cannot be read.
  virtual std::unique_ptr<Icon> ExtractFileIcon(std::string_view file, int index, IconSize size) = 0;
  // The icon group of an .exe or .dll at `index` (numbered as for
  // ExtractFileIcon) with all its images, as the bytes of a standard .ico
  // file; nullopt when there is no such group. Only the module's resources
  // are read, never the whole file.
  virtual std::optional<std::string> ReadIconGroupFile(std::string_view module, int index) = 0;
  // The user default locale; a value Windows cannot give stays empty.
  virtual UserLocale UserDefaultLocale() = 0;
};

}  // namespace kv::platform
