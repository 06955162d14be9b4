#pragma once
// What the Wine tests share: the real machine, the fixture executables built
// next to the test binary, and .lnk files written by the shell itself.
#include <string>

#include "platform/machine.h"
#include "platform/win32/shell_link_win.h"

namespace kv::integration {

inline platform::Machine& Real() { return platform::SystemMachine(); }

// A fixture executable in the test binary's folder.
inline std::string Fixture(const char* name) {
  const std::string self = Real().shell.ExecutablePath();
  return self.substr(0, self.rfind('\\') + 1) + name;
}

// Saves a shortcut through the client's own writer, one per thread as the
// reader keeps one.
inline bool WriteLink(const std::string& link, const std::string& target, const std::string& args) {
  thread_local platform::win32::ShellLinkWriter writer;
  return writer.Write(link, target, args, "");
}

}  // namespace kv::integration
