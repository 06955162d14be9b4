#include "app/activity_log.h"

#include <cstdarg>

#include "text/utf8.h"

namespace kv::app {

ActivityLog::ActivityLog(platform::Machine& machine) : machine_(machine) {}

ActivityLog::~ActivityLog() { Flush().IgnoreError(); }

ActivityLog& ActivityLog::Instance() {
  // Never destroyed before exit: the final flush runs from the owner's shut-down.
  static ActivityLog* log = new ActivityLog(platform::SystemMachine());
  return *log;
}

void ActivityLog::Open(std::string_view name, bool derive, std::string_view app_data_folder) {
  std::lock_guard lock(mutex_);
  if (!derive) {
    path_ = std::string(name);
    return;
  }
  const std::string exe = machine_.shell.ExecutablePath();
  const std::size_t slash = exe.rfind('\\');
  if (slash == std::string::npos) {
    path_.clear();
    return;
  }
  path_ = std::string(app_data_folder) + std::string(name) + "\\" + exe.substr(slash + 1) + ".PUL";
}

void ActivityLog::SetDisabled(bool disabled) {
  std::lock_guard lock(mutex_);
  disabled_ = disabled;
}

bool ActivityLog::disabled() const {
  std::lock_guard lock(mutex_);
  return disabled_;
}

std::string ActivityLog::TimeStamp(platform::FileTime local) {
  const platform::CalendarTime t = platform::ToCalendar(local);
  return text::Format("(%02d.%02d.%02d, %02d:%02d:%02d) ", t.day, t.month, t.year, t.hour,
                      t.minute, t.second);
}

namespace {

// Cuts `s` to at most `max` bytes without splitting a UTF-8 sequence.
void CutAtCharBoundary(std::string& s, std::size_t max) {
  if (s.size() <= max) return;
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  s.resize(cut);
}

}  // namespace

void ActivityLog::Write(const char* format, ...) {
  {
    std::lock_guard lock(mutex_);
    if (disabled_) return;
  }
  va_list args;
  va_start(args, format);
  std::string message = text::FormatV(format, args);
  va_end(args);
  // The line buffer holds the message and its CR LF.
  CutAtCharBoundary(message, kLineBufferBytes - 2);
  message += "\r\n";

  std::lock_guard lock(mutex_);
  if (disabled_) return;
  buffer_ += TimeStamp(machine_.clock.NowLocal());
  buffer_ += message;
}

platform::Status ActivityLog::Flush() {
  std::lock_guard lock(mutex_);
  if (disabled_ || buffer_.empty() || path_.empty()) return {};
  auto file = machine_.files.OpenWrite(path_, platform::OpenMode::Append);
  if (!file) return file.status();
  const platform::Status wrote = file->Write(buffer_);
  const platform::Status closed = file->Close();
  // A partial write leaves the text buffered; the next flush may repeat a
  // fragment, which is better than losing lines.
  if (!wrote) return wrote;
  if (!closed) return closed;
  buffer_.clear();
  return {};
}

std::string ActivityLog::Path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

std::string ActivityLog::Buffered() const {
  std::lock_guard lock(mutex_);
  return buffer_;
}

}  // namespace kv::app
