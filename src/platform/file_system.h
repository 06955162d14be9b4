#pragma once
// File-system port. Paths are Windows paths in UTF-8 ("C:\Users\u\..."); a
// relative path is taken against the current folder.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_time.h"
#include "platform/status.h"

namespace kv::platform {

struct FileInfo {
  bool directory = false;
  bool hidden = false;
  bool read_only = false;
  bool system = false;
  std::uint64_t size = 0;
  FileTime last_write = 0;
};

struct FolderEntry {
  std::string name;  // bare name, no folder
  FileInfo info;
};

enum class CreateDirResult { Created, AlreadyExists, PathNotFound, Failed };

// How CreateFile opens its file; none of them shares the file with other openers.
enum class OpenMode {
  CreateAlways,  // create or truncate
  CreateNew,     // fail when the file exists
  Append,        // create when missing, write at the end
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Fails when not every byte was written (a full disk, say).
  virtual Status Write(std::string_view data) = 0;
  // Fails when the data could not be committed; the file is closed either way.
  virtual Status Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The whole file; fails with NotFound when it does not exist (or a folder
  // on its path does not), SharingViolation while another opener holds it.
  virtual Result<std::string> ReadAll(std::string_view path) = 0;
  virtual Result<std::unique_ptr<WritableFile>> OpenWrite(std::string_view path,
                                                          OpenMode mode) = 0;
  virtual Status Delete(std::string_view path) = 0;
  // Fails when `to` exists unless `replace` is set.
  virtual Status Move(std::string_view from, std::string_view to, bool replace) = 0;
  virtual Status Copy(std::string_view from, std::string_view to, bool fail_if_exists) = 0;
  virtual std::optional<FileInfo> GetInfo(std::string_view path) = 0;
  virtual CreateDirResult MakeDirectory(std::string_view path) = 0;
  virtual Status RemoveFolder(std::string_view path) = 0;
  // Entries of `folder` whose names match `pattern` ("*", "*.lnk"; no "." or "..").
  virtual std::vector<FolderEntry> ListFolder(std::string_view folder,
                                              std::string_view pattern = "*") = 0;
  // The long form of a path (8.3 names expanded); the input when it does not exist.
  virtual std::string LongPath(std::string_view path) = 0;
  virtual std::string CurrentDirectory() = 0;
  virtual std::string TempFolder() = 0;  // with a trailing backslash
  // Creates an empty file with a unique name in `folder` and returns its path.
  virtual std::optional<std::string> CreateTempFile(std::string_view folder,
                                                    std::string_view prefix) = 0;

  bool Exists(std::string_view path) { return GetInfo(path).has_value(); }
  bool IsDirectory(std::string_view path) {
    auto i = GetInfo(path);
    return i && i->directory;
  }
  // Writes the whole file (CreateAlways); the first failure.
  Status WriteAll(std::string_view path, std::string_view data);
};

// `folder` ending in a backslash; an empty folder stays empty.
std::string WithTrailingBackslash(std::string_view folder);

// Matches a file name against a Windows wildcard pattern ("*", "?"), without regard to case.
bool MatchesPattern(std::string_view name, std::string_view pattern);

}  // namespace kv::platform
