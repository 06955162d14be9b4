#include "platform/win32/shell_link_win.h"

#include <shlobj.h>

#include <string>

#include "platform/win32/wide.h"

namespace kv::platform::win32 {

ShellLinkObject ShellLinkObject::Create() {
  ShellLinkObject o;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              o.link.put_void())))
    return {};
  if (FAILED(o.link->QueryInterface(IID_IPersistFile, o.file.put_void()))) return {};
  return o;
}

ShellLinkWriter::ShellLinkWriter() : object_(ShellLinkObject::Create()) {}

bool ShellLinkWriter::Write(std::string_view link_path, std::string_view target,
                            std::string_view arguments, std::string_view working_folder) {
  if (!object_) return false;
  // Every field is set on every write: the object still holds the last link's.
  return SUCCEEDED(object_.link->SetPath(Widen(target).c_str())) &&
         SUCCEEDED(object_.link->SetArguments(Widen(arguments).c_str())) &&
         SUCCEEDED(object_.link->SetWorkingDirectory(Widen(working_folder).c_str())) &&
         SUCCEEDED(object_.file->Save(Widen(link_path).c_str(), TRUE));
}

bool SetLastWriteTime(std::string_view path, FileTime time) {
  ScopedHandle file(CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return SetFileTime(file.get(), nullptr, nullptr, &ft) != FALSE;
}

}  // namespace kv::platform::win32
