#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/win32/error_win.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_adapters.h"

namespace kv::platform::win32 {
namespace {

FileTime ToFileTime(const FILETIME& ft) {
  return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FileInfo ToInfo(DWORD attrs, DWORD size_high, DWORD size_low, const FILETIME& write) {
  FileInfo info;
  info.directory = (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.hidden = (attrs & FILE_ATTRIBUTE_HIDDEN) != 0;
  info.read_only = (attrs & FILE_ATTRIBUTE_READONLY) != 0;
  info.system = (attrs & FILE_ATTRIBUTE_SYSTEM) != 0;
  info.size = (static_cast<std::uint64_t>(size_high) << 32) | size_low;
  info.last_write = ToFileTime(write);
  return info;
}

class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(ScopedHandle h, std::string path) : h_(std::move(h)), path_(std::move(path)) {}
  Status Write(std::string_view data) override {
    while (!data.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
      DWORD written = 0;
      if (!WriteFile(h_.get(), data.data(), chunk, &written, nullptr)) return LastErrorStatus(path_);
      // A write that takes nothing without an error: the disk is full.
      if (written == 0) return ErrorStatus(ERROR_DISK_FULL, path_);
      data.remove_prefix(written);
    }
    return {};
  }
  Status Close() override {
    if (!h_) return Status::Error(ErrorKind::Other, "closed twice: " + path_);
    // Stores delete their previous file right after this close: the new data
    // must be on the disk first, not only in the cache.
    Status result;
    if (!FlushFileBuffers(h_.get())) result = LastErrorStatus(path_);
    if (!CloseHandle(h_.release()) && result.ok()) result = LastErrorStatus(path_);
    return result;
  }

 private:
  ScopedHandle h_;
  std::string path_;
};

}  // namespace

Result<std::string> Win32FileSystem::ReadAll(std::string_view path) {
  ScopedHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LastErrorStatus(path);
  const HANDLE h = file.get();
  std::string out;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > 0) out.reserve(static_cast<std::size_t>(size.QuadPart));
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buf, sizeof buf, &got, nullptr)) return LastErrorStatus(path);
    if (got == 0) break;
    out.append(buf, got);
  }
  return out;
}

Result<std::unique_ptr<WritableFile>> Win32FileSystem::OpenWrite(std::string_view path,
                                                                 OpenMode mode) {
  const DWORD disposition = mode == OpenMode::CreateAlways ? CREATE_ALWAYS
                            : mode == OpenMode::CreateNew  ? CREATE_NEW
                                                           : OPEN_ALWAYS;
  ScopedHandle h(CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return LastErrorStatus(path);
  if (mode == OpenMode::Append) SetFilePointer(h.get(), 0, nullptr, FILE_END);
  return std::unique_ptr<WritableFile>(
      std::make_unique<Win32WritableFile>(std::move(h), std::string(path)));
}

Status Win32FileSystem::Delete(std::string_view path) {
  if (DeleteFileW(Widen(path).c_str())) return {};
  return LastErrorStatus(path);
}

Status Win32FileSystem::Move(std::string_view from, std::string_view to, bool replace) {
  if (MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
    return {};
  return LastErrorStatus(std::string(from) + " -> " + std::string(to));
}

Status Win32FileSystem::Copy(std::string_view from, std::string_view to, bool fail_if_exists) {
  if (CopyFileW(Widen(from).c_str(), Widen(to).c_str(), fail_if_exists)) return {};
  return LastErrorStatus(std::string(from) + " -> " + std::string(to));
}

std::optional<FileInfo> Win32FileSystem::GetInfo(std::string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return ToInfo(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
}

CreateDirResult Win32FileSystem::MakeDirectory(std::string_view path) {
  if (CreateDirectoryW(Widen(path).c_str(), nullptr)) return CreateDirResult::Created;
  switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS: return CreateDirResult::AlreadyExists;
    case ERROR_PATH_NOT_FOUND: return CreateDirResult::PathNotFound;
    default: return CreateDirResult::Failed;
  }
}

Status Win32FileSystem::RemoveFolder(std::string_view path) {
  if (RemoveDirectoryW(Widen(path).c_str())) return {};
  return LastErrorStatus(path);
}

std::vector<FolderEntry> Win32FileSystem::ListFolder(std::string_view folder,
                                                     std::string_view pattern) {
  std::vector<FolderEntry> out;
  std::string layout(folder);
  if (!layout.empty() && layout.back() != '\\' && layout.back() != '/') layout += '\\';
  layout += pattern;
  WIN32_FIND_DATAW fd;
  ScopedFindHandle find(FindFirstFileExW(Widen(layout).c_str(), FindExInfoBasic, &fd,
                                         FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH));
  if (!find) return out;
  do {
    const std::wstring_view name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    out.push_back({Narrow(name), ToInfo(fd.dwFileAttributes, fd.nFileSizeHigh, fd.nFileSizeLow,
                                        fd.ftLastWriteTime)});
  } while (FindNextFileW(find.get(), &fd));
  return out;
}

std::string Win32FileSystem::LongPath(std::string_view path) {
  const std::wstring w = Widen(path);
  const DWORD n = GetLongPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return std::string(path);
  std::wstring out(n, L'\0');
  const DWORD got = GetLongPathNameW(w.c_str(), out.data(), n);
  if (got == 0 || got >= n) return std::string(path);
  out.resize(got);
  return Narrow(out);
}

std::string Win32FileSystem::CurrentDirectory() {
  std::wstring buf(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
    if (n == 0) return {};
    if (n < buf.size()) return Narrow({buf.data(), n});
    buf.resize(n);  // n is the size needed, terminating zero included
  }
  return {};
}

std::string Win32FileSystem::TempFolder() {
  wchar_t buf[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 2, buf);
  return n ? Narrow({buf, n}) : std::string();
}

std::optional<std::string> Win32FileSystem::CreateTempFile(std::string_view folder,
                                                           std::string_view prefix) {
  wchar_t buf[MAX_PATH];
  if (!GetTempFileNameW(Widen(folder).c_str(), Widen(prefix).c_str(), 0, buf)) return std::nullopt;
  return Narrow(buf);
}

}  // namespace kv::platform::win32
