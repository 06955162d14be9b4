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
#include "platform/icon_resources.h"
#include "platform/identifiers.h"
#include "platform/machine.h"
#include "text/compare.h"

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

// An icon the fake shell extracted: drawn at the size asked for, like
// Windows, and the image chosen for it (without its data).
class FakeIcon final : public Icon {
 public:
  FakeIcon(int pixels, IconImage image) : pixels_(pixels), image_(std::move(image)) {}
  int width() const override { return pixels_; }
  int height() const override { return pixels_; }
  const IconImage& image() const { return image_; }

 private:
  int pixels_;
  IconImage image_;
};

class FakeShell final : public Shell {
 public:
  explicit FakeShell(FakeFileSystem& files);
  std::optional<std::string> GetFolder(SpecialFolder folder) override;
  std::string ExecutablePath() override;
  long Execute(std::string_view verb, std::string_view file, std::string_view parameters,
               ShowCommand show, bool on_desktop_window) override;
  std::string ExpandEnvironment(std::string_view text) override;
  std::optional<std::string> FindOnSearchPath(std::string_view name,
                                              std::string_view extension) override;
  // Real PE images stored in the fake file system are read like Windows does.
  std::optional<std::string> ReadVersionResource(std::string_view path) override;
  std::optional<std::string> AdvertisedShortcutTarget(std::string_view link_path) override;
  std::optional<ShellLinkTarget> ReadShellLink(std::string_view link_path) override;
  // Icons of real PE images and .ico files in the fake file system; the
  // result is a FakeIcon.
  std::unique_ptr<Icon> ExtractFileIcon(std::string_view file, int index, IconSize size) override;
  std::optional<std::string> ReadIconGroupFile(std::string_view module, int index) override;
  UserLocale UserDefaultLocale() override;
  void SetUserLocale(UserLocale locale);

  // Environment variables, names without regard to case.
  void SetEnvironment(std::string name, std::string value);
  // Folders searched after the executable's folder, the current folder and
  // the system folders.
  void SetSearchPath(std::vector<std::string> folders);
  // Writes a shortcut file that ReadShellLink resolves (a fake format).
  void AddShortcut(std::string_view link_path, std::string_view target,
                   std::string_view arguments = "");
  // Writes an installer-advertised shortcut to a component path.
  void AddAdvertisedShortcut(std::string_view link_path, std::string_view component_path);

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
  UserLocale locale_{"0409", "ENU"};
  std::vector<ExecuteCall> executed_;
  FakeFileSystem& files_;
  std::map<std::string, std::string, text::LessNoCase> env_;
  std::vector<std::string> search_path_;
};

// Real digests (tests compare them with known ones), and GUIDs counted up
// from "{00000000-0000-4000-8000-000000000001}" unless told the next one, so
// that tests can name them; SetGuidFailure makes NewGuid fail. A replayed
// machine that talks to a real service (kvdiag) takes the system's GUIDs.
class FakeIdentifiers final : public Identifiers {
 public:
  Result<std::string> Md5Hex(std::string_view data) override;
  Result<std::string> NewGuid() override;
  void SetNextGuid(std::string guid);
  void SetGuidFailure(bool fail);
  void UseSystemGuids(bool use);
  int guids_made() const;

 private:
  mutable std::mutex mutex_;
  std::string next_;
  bool fail_ = false;
  bool system_ = false;
  int made_ = 0;
};

class FakeMachine {
 public:
  FakeMachine();
  FakeMachine(const FakeMachine&) = delete;
  FakeMachine& operator=(const FakeMachine&) = delete;

  FakeClock clock;
  FakeRegistry registry{&clock};
  FakeFileSystem files{clock};
  FakeShell shell{files};
  FakeIdentifiers ids;
  Machine machine{registry, files, shell, clock, ids};

  operator Machine&() { return machine; }
};

}  // namespace kv::platform
