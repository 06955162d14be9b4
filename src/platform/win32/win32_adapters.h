#pragma once
// The real adapters of the ports on the Win32 API (wide functions only).
#include "platform/machine.h"

namespace kv::platform::win32 {

class Win32Registry final : public Registry {
 public:
  Result<std::unique_ptr<RegistryKey>> Open(RootKey root, std::string_view path,
                                            RegView view = RegView::Native,
                                            bool writable = false) override;
  Result<std::unique_ptr<RegistryKey>> Create(RootKey root, std::string_view path,
                                              RegView view = RegView::Native) override;
  Status DeleteTree(RootKey root, std::string_view path,
                    RegView view = RegView::Native) override;
};

class Win32FileSystem final : public FileSystem {
 public:
  Result<std::string> ReadAll(std::string_view path) override;
  Result<std::unique_ptr<WritableFile>> OpenWrite(std::string_view path, OpenMode mode) override;
  Status Delete(std::string_view path) override;
  Status Move(std::string_view from, std::string_view to, bool replace) override;
  Status Copy(std::string_view from, std::string_view to, bool fail_if_exists) override;
  std::optional<FileInfo> GetInfo(std::string_view path) override;
  CreateDirResult MakeDirectory(std::string_view path) override;
  Status RemoveFolder(std::string_view path) override;
  std::vector<FolderEntry> ListFolder(std::string_view folder,
                                      std::string_view pattern = "*") override;
  std::string LongPath(std::string_view path) override;
  std::string CurrentDirectory() override;
  std::string TempFolder() override;
  std::optional<std::string> CreateTempFile(std::string_view folder,
                                            std::string_view prefix) override;
};

class Win32Shell final : public Shell {
 public:
  std::optional<std::string> GetFolder(SpecialFolder folder) override;
  std::string ExecutablePath() override;
  long Execute(std::string_view verb, std::string_view file, std::string_view parameters,
               ShowCommand show, bool on_desktop_window) override;
  std::string ExpandEnvironment(std::string_view text) override;
  std::optional<std::string> FindOnSearchPath(std::string_view name,
                                              std::string_view extension) override;
  std::optional<std::string> ReadVersionResource(std::string_view path) override;
  std::optional<std::string> AdvertisedShortcutTarget(std::string_view link_path) override;
  std::optional<ShellLinkTarget> ReadShellLink(std::string_view link_path) override;
  std::unique_ptr<Icon> ExtractFileIcon(std::string_view file, int index, IconSize size) override;
  std::optional<std::string> ReadIconGroupFile(std::string_view module, int index) override;
  UserLocale UserDefaultLocale() override;
};

class Win32Clock final : public Clock {
 public:
  FileTime NowUtc() override;
  FileTime NowLocal() override;
};

}  // namespace kv::platform::win32
