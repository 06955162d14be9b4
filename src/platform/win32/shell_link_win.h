#pragma once
// Shell links (.lnk) through IShellLinkW: the object the reader and the
// writer share, the writer, and a file's last-write time (a scan tells
// changed shortcuts by it).
#include <windows.h>
#include <shobjidl.h>

#include <string_view>

#include "platform/file_time.h"
#include "platform/win32/scoped_win.h"

namespace kv::platform::win32 {

// A shell-link object with its IPersistFile. COM must be initialised on the
// thread; both pointers stay empty when the shell cannot make one.
struct ShellLinkObject {
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;

  static ShellLinkObject Create();
  explicit operator bool() const { return static_cast<bool>(file); }
};

// Writes .lnk files with one link object for every write, as the reader
// reuses one for every load. Keeps COM initialised on its thread while it
// lives.
class ShellLinkWriter {
 public:
  ShellLinkWriter();

  // An empty working folder leaves the link without one.
  bool Write(std::string_view link_path, std::string_view target, std::string_view arguments,
             std::string_view working_folder);

 private:
  ScopedComInit com_;  // declared first: released after the link object
  ShellLinkObject object_;
};

bool SetLastWriteTime(std::string_view path, FileTime time);

}  // namespace kv::platform::win32
