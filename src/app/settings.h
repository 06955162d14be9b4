#pragma once
// The client's persistent choices: registry values below
// HKCU\Software\Tavrin Technologies, Inc.\Korvan. A missing or unreadable
// value reads as its default; nothing is written until a setter is called.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace kv::app {

inline constexpr char kCompanyKey[] = "Tavrin Technologies, Inc.";
inline constexpr char kProductName[] = "Korvan";
inline constexpr char kAppKeyPath[] = "Software\\Tavrin Technologies, Inc.\\Korvan";

// Automatic checks are off when the interval is this value.
inline constexpr int kAutocheckOff = -1;
// The balloon timeout stored for "Never".
inline constexpr int kBalloonNever = 3600000;

enum class SettingType { Integer, Boolean, String, Binary };

struct SettingInfo {
  const char* section;  // below the application key; "" is the key itself
  const char* name;
  SettingType type;
  const char* default_text;  // as kvdiag prints it
};

// Every setting, in the order of the settings table.
const std::vector<SettingInfo>& AllSettings();

// Left, top, right, bottom of the main frame in screen coordinates.
struct WindowRect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const WindowRect&) const = default;
};

class Settings {
 public:
  explicit Settings(platform::Registry& registry) : registry_(registry) {}

  int UpdatesCommentsEtcAutocheckInterval() const;
  void SetUpdatesCommentsEtcAutocheckInterval(int seconds);
  int SuggestVisitMyUpdatesPage() const;
  void SetSuggestVisitMyUpdatesPage(int choice);
  int DontAskWriteCommentsForNewSoft() const;
  void SetDontAskWriteCommentsForNewSoft(int value);
  int ShowAllNotificationsHistory() const;
  void SetShowAllNotificationsHistory(int value);
  bool IgnoreBetaVersions() const;
  void SetIgnoreBetaVersions(bool ignore);
  int NotificationBalloonTimeout() const;
  void SetNotificationBalloonTimeout(int seconds);
  int DisablePUL() const;  // read once at start-up; never written by the client
  std::optional<WindowRect> MainWndPlacement() const;
  void SetMainWndPlacement(const WindowRect& rect);
  std::string BundledWithSN() const;  // written by an installer only
  std::string BundledWithLN() const;

  // Raw access by table entry, for diagnostics: nullopt when absent.
  std::optional<std::string> StoredText(const SettingInfo& info) const;

 private:
  int ReadInt(const char* section, const char* name, int fallback) const;
  void WriteInt(const char* section, const char* name, int value);

  platform::Registry& registry_;
};

std::string SectionPath(const char* section);

}  // namespace kv::app
