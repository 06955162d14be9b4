// Environment strings, the search path, version resources and shortcuts.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "platform/win32/shell_link_win.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_adapters.h"

namespace kv::platform::win32 {

std::string Win32Shell::ExpandEnvironment(std::string_view text) {
  const std::wstring in = Widen(text);
  DWORD n = ExpandEnvironmentStringsW(in.c_str(), nullptr, 0);
  if (n == 0) return std::string(text);
  std::wstring out(n, L'\0');
  n = ExpandEnvironmentStringsW(in.c_str(), out.data(), n);
  if (n == 0 || n > out.size()) return std::string(text);
  out.resize(n - 1);  // n counts the terminating zero
  return Narrow(out);
}

std::optional<std::string> Win32Shell::FindOnSearchPath(std::string_view name,
                                                        std::string_view extension) {
  const std::wstring wname = Widen(name), wext = Widen(extension);
  wchar_t buf[MAX_PATH * 2];
  const DWORD n = SearchPathW(nullptr, wname.c_str(), wext.empty() ? nullptr : wext.c_str(),
                              MAX_PATH * 2, buf, nullptr);
  if (n == 0 || n >= MAX_PATH * 2) return std::nullopt;
  return Narrow({buf, n});
}

std::optional<std::string> Win32Shell::ReadVersionResource(std::string_view path) {
  const std::wstring wpath = Widen(path);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(wpath.c_str(), &handle);
  if (size == 0) return std::nullopt;
  std::string block(size, '\0');
  if (!GetFileVersionInfoW(wpath.c_str(), 0, size, block.data())) return std::nullopt;
  return block;
}

namespace {

using GetShortcutTargetFn = UINT(WINAPI*)(LPCWSTR, LPWSTR, LPWSTR, LPWSTR);
using GetComponentPathFn = INT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, DWORD*);

// msi.dll is loaded on first need and kept; it is never linked.
struct MsiFunctions {
  GetShortcutTargetFn get_target = nullptr;
  GetComponentPathFn get_path = nullptr;
  MsiFunctions() {
    HMODULE msi = GetModuleHandleW(L"msi");
    if (!msi) msi = LoadLibraryW(L"msi.dll");
    if (!msi) return;
    get_target = reinterpret_cast<GetShortcutTargetFn>(
        reinterpret_cast<void*>(GetProcAddress(msi, "MsiGetShortcutTargetW")));
    get_path = reinterpret_cast<GetComponentPathFn>(
        reinterpret_cast<void*>(GetProcAddress(msi, "MsiGetComponentPathW")));
  }
};

// One shell-link object per thread, reused for every Load: creating a new
// one per file costs about three times as much.
class LinkReader {
 public:
  LinkReader() : object_(ShellLinkObject::Create()) {}
  std::optional<ShellLinkTarget> Read(std::string_view path) {
    if (!object_) return std::nullopt;
    const std::wstring wpath = Widen(path);
    if (FAILED(object_.file->Load(wpath.c_str(), STGM_READ))) return std::nullopt;
    wchar_t target[MAX_PATH] = L"", args[MAX_PATH] = L"";
    if (FAILED(object_.link->GetPath(target, MAX_PATH, nullptr, SLGP_UNCPRIORITY))) target[0] = 0;
    if (FAILED(object_.link->GetArguments(args, MAX_PATH))) args[0] = 0;
    return ShellLinkTarget{Narrow(target), Narrow(args)};
  }

 private:
  ScopedComInit com_;  // declared first: released after the link object
  ShellLinkObject object_;
};

}  // namespace

std::optional<std::string> Win32Shell::AdvertisedShortcutTarget(std::string_view link_path) {
  static const MsiFunctions msi;
  if (!msi.get_target || !msi.get_path) return std::nullopt;
  wchar_t product[100] = L"", feature[100] = L"", component[100] = L"";
  if (msi.get_target(Widen(link_path).c_str(), product, feature, component) != ERROR_SUCCESS)
    return std::nullopt;
  wchar_t path[MAX_PATH] = L"";
  DWORD size = MAX_PATH;
  msi.get_path(product, component, path, &size);
  if (!path[0]) return std::nullopt;
  return Narrow(path);
}

std::optional<ShellLinkTarget> Win32Shell::ReadShellLink(std::string_view link_path) {
  thread_local LinkReader reader;
  return reader.Read(link_path);
}

}  // namespace kv::platform::win32
