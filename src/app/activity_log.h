#pragma once
// Time-stamped lines of what the user and the client did, kept in memory and
// appended to "<exe name>.PUL" in the data folder only when flushed.
#include <mutex>
#include <string>
#include <string_view>

#include "platform/machine.h"
#include "text/format.h"

namespace kv::app {

class ActivityLog {
 public:
  // Each message, its CR LF included, fits this many bytes (the time stamp
  // comes on top).
  static constexpr std::size_t kLineBufferBytes = 10'000;

  explicit ActivityLog(platform::Machine& machine);
  ~ActivityLog();  // flushes a last time

  // The process-wide log on the system machine, created on first use.
  static ActivityLog& Instance();

  // With `derive` the path is <app data>\<name>\<exe file name>.PUL; without,
  // `name` is the full path. The folder is not created here.
  void Open(std::string_view name, bool derive, std::string_view app_data_folder);
  void SetDisabled(bool disabled);
  bool disabled() const;

  void Write(const char* format, ...) KV_PRINTF(2, 3);
  // Appends the buffer to the file; on failure the text stays for next time.
  platform::Status Flush();
  std::string Path() const;
  std::string Buffered() const;  // for tests and diagnostics

  // "(dd.mm.yyyy, hh:mm:ss) ": the prefix of a line written at `local`.
  static std::string TimeStamp(platform::FileTime local);

 private:
  platform::Machine& machine_;
  // Re-entrant: the crash handler writes and flushes from the thread that
  // crashed, which may be inside a log call already.
  mutable std::recursive_mutex mutex_;
  bool disabled_ = true;
  std::string path_;
  std::string buffer_;
};

}  // namespace kv::app
