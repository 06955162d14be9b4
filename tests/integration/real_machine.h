#pragma once
// What the Wine tests share: the real machine, the fixture executables built
// next to the test binary, and .lnk files written by the shell itself.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "platform/machine.h"
#include "platform/win32/wide.h"

namespace kv::integration {

inline platform::Machine& Real() { return platform::SystemMachine(); }

// A fixture executable in the test binary's folder.
inline std::string Fixture(const char* name) {
  const std::string self = Real().shell.ExecutablePath();
  return self.substr(0, self.rfind('\\') + 1) + name;
}

// Saves a shortcut with IShellLinkW; COM must be initialised on the thread.
inline bool WriteLink(const std::string& link, const std::string& target, const std::string& args) {
  IShellLinkW* sl = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&sl))))
    return false;
  sl->SetPath(platform::win32::Widen(target).c_str());
  sl->SetArguments(platform::win32::Widen(args).c_str());
  IPersistFile* pf = nullptr;
  bool ok = SUCCEEDED(sl->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf)));
  if (ok) {
    ok = SUCCEEDED(pf->Save(platform::win32::Widen(link).c_str(), TRUE));
    pf->Release();
  }
  sl->Release();
  return ok;
}

}  // namespace kv::integration
