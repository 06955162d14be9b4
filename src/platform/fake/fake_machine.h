#pragma once
// A whole fake Windows machine: registry, files, shell and clock, set up with
// the folders of one user profile ("user") on drive C:.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fake/fake_file_system.h"
#include "platform/fake/fake_registry.h"
#include "platform/machine.h"

namespace kv::platform {

class FakeClock final : public Clock {
 public:
  FileTime NowUtc() override;
  FileTime NowLocal() override;
  void Set(FileTime utc) { utc_ = utc; }
  void SetLocal(const CalendarTime& local);  // keeps the offset
  void SetUtcOffsetMinutes(int minutes) { offset_minutes_ = minutes; }
  void Advance(FileTime ticks) { utc_ += ticks; }

 private:
  std::atomic<FileTime> utc_{FromCalendar({2026, 1, 15, 9, 30, 0, 0})};
  std::atomic<int> offset_minutes_{60};
};

struct ExecuteCall {
  std::string verb, file, parameters;
  ShowCommand show;
  bool on_desktop_window;
};

class FakeShell final : public Shell {
 public:
  FakeShell();
  std::optional<std::string> GetFolder(SpecialFolder folder) override;
  std::string ExecutablePath() override;
  long Execute(std::string_view verb, std::string_view file, std::string_view parameters,
               ShowCommand show, bool on_desktop_window) override;

  void SetFolder(SpecialFolder folder, std::optional<std::string> path);
  void SetExecutablePath(std::string path) { exe_ = std::move(path); }
  // Result of the next Execute calls (greater than 32 is success).
  void SetExecuteResult(long result) { execute_result_ = result; }
  std::vector<ExecuteCall> executed();

 private:
  std::mutex mutex_;
  std::map<SpecialFolder, std::optional<std::string>> folders_;
  std::string exe_ = "C:\\Program Files\\Korvan\\korvapp.exe";
  long execute_result_ = 42;
  std::vector<ExecuteCall> executed_;
};

class FakeMachine {
 public:
  FakeMachine();
  FakeMachine(const FakeMachine&) = delete;
  FakeMachine& operator=(const FakeMachine&) = delete;

  FakeClock clock;
  FakeRegistry registry;
  FakeFileSystem files{clock};
  FakeShell shell;
  Machine machine{registry, files, shell, clock};

  operator Machine&() { return machine; }
};

}  // namespace kv::platform
