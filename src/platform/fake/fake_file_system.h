#pragma once
// In-memory file system with Windows path semantics (drive letters,
// backslashes, case-insensitive names) and fault injection for the tests of
// save sequences and scans.
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace kv::platform {

enum class FileOp { Read, Create, Write, Close, Delete, Move, Copy, CreateDir, List };

class FakeFileSystem final : public FileSystem {
 public:
  explicit FakeFileSystem(Clock& clock);

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

  // Test set-up: creates the file and any missing parent folders.
  void AddFile(std::string_view path, std::string_view data);
  void AddFolder(std::string_view path);  // with its parents
  void SetHidden(std::string_view path, bool hidden);
  void SetLastWrite(std::string_view path, FileTime t);
  void SetCurrentDirectory(std::string_view path);
  void SetTempFolder(std::string_view path);

  // Fault injection: the hook is asked before every operation and fails it
  // by returning true (a failure of kind Other), or by returning the kind of
  // failure (SetFaults). Writes may also stop after a byte budget (DiskFull).
  using FaultHook = std::function<std::optional<ErrorKind>(FileOp, std::string_view path)>;
  void SetFaultHook(std::function<bool(FileOp, std::string_view path)> hook);
  void SetFaults(FaultHook hook);
  void SetWriteLimit(std::optional<std::size_t> bytes);

  // Normalised absolute form: backslashes, no "." or "..", no trailing separator.
  std::string Normalize(std::string_view path) const;
  std::size_t FileCount() const;

 private:
  friend class FakeWritableFile;
  struct Entry {
    std::string path;  // as created
    bool directory = false;
    std::string data;
    FileInfo info;
  };
  static std::string Key(std::string_view normalized);
  // The injected failure of `op`, or success.
  Status Fault(FileOp op, std::string_view path);
  bool ParentExists(const std::string& normalized) const;
  void AddParents(const std::string& normalized);
  // A name added to or removed from a folder stamps the folder, as NTFS does.
  void TouchParent(const std::string& normalized);
  // Called by open files.
  Status AppendData(const std::string& key, std::string_view path, std::string_view data);
  void Release(const std::string& key);

  Clock& clock_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, Entry> entries_;  // keyed by folded normalized path
  std::map<std::string, FileTime> root_times_;  // drive and share roots, by key
  std::set<std::string> open_;            // keys of files open for writing
  std::string cwd_ = "C:\\";
  std::string temp_ = "C:\\Users\\user\\AppData\\Local\\Temp\\";
  FaultHook hook_;
  std::optional<std::size_t> write_budget_;
  unsigned temp_counter_ = 0;
};

}  // namespace kv::platform
