#include "app/settings.h"

#include <cstring>

#include "text/format.h"

namespace kv::app {
namespace {

using platform::RegType;
using platform::RegValue;
using platform::RootKey;

constexpr char kSettings[] = "Settings";
constexpr char kSettingsView[] = "Settings\\View";
constexpr char kView[] = "View";
constexpr char kApp[] = "";

}  // namespace

const std::vector<SettingInfo>& AllSettings() {
  static const std::vector<SettingInfo> all = {
      {kSettings, "UpdatesCommentsEtcAutocheckInterval", SettingType::Integer, "36000"},
      {kSettingsView, "SuggestVisitMyUpdatesPage", SettingType::Integer, "1"},
      {kSettings, "DontAskWriteCommentsForNewSoft", SettingType::Integer, "0"},
      {kSettingsView, "ShowAllNotificationsHistory", SettingType::Integer, "0"},
      {kSettings, "IgnoreBetaVersions", SettingType::Boolean, "1"},
      {kSettings, "NotificationBalloonTimeout", SettingType::Integer, "10"},
      {kSettings, "DisablePUL", SettingType::Integer, "1"},
      {kView, "MainWndPlacement", SettingType::Binary, "(absent)"},
      {kApp, "BundledWithSN", SettingType::String, ""},
      {kApp, "BundledWithLN", SettingType::String, ""},
  };
  return all;
}

std::string SectionPath(const char* section) {
  std::string path = kAppKeyPath;
  if (*section) path += std::string("\\") + section;
  return path;
}

int Settings::ReadInt(const char* section, const char* name, int fallback) const {
  auto v = registry_.ReadDword(RootKey::CurrentUser, SectionPath(section), name);
  return v ? static_cast<int>(*v) : fallback;
}

void Settings::WriteInt(const char* section, const char* name, int value) {
  // Settings writes are silent: a locked-down profile keeps its defaults.
  registry_.Write(RootKey::CurrentUser, SectionPath(section), name,
                  RegValue::Dword(static_cast<std::uint32_t>(value)))
      .IgnoreError();
}

int Settings::UpdatesCommentsEtcAutocheckInterval() const {
  return ReadInt(kSettings, "UpdatesCommentsEtcAutocheckInterval", 36000);
}
void Settings::SetUpdatesCommentsEtcAutocheckInterval(int seconds) {
  WriteInt(kSettings, "UpdatesCommentsEtcAutocheckInterval", seconds);
}
int Settings::SuggestVisitMyUpdatesPage() const {
  return ReadInt(kSettingsView, "SuggestVisitMyUpdatesPage", 1);
}
void Settings::SetSuggestVisitMyUpdatesPage(int choice) {
  WriteInt(kSettingsView, "SuggestVisitMyUpdatesPage", choice);
}
int Settings::DontAskWriteCommentsForNewSoft() const {
  return ReadInt(kSettings, "DontAskWriteCommentsForNewSoft", 0);
}
void Settings::SetDontAskWriteCommentsForNewSoft(int value) {
  WriteInt(kSettings, "DontAskWriteCommentsForNewSoft", value);
}
int Settings::ShowAllNotificationsHistory() const {
  return ReadInt(kSettingsView, "ShowAllNotificationsHistory", 0);
}
void Settings::SetShowAllNotificationsHistory(int value) {
  WriteInt(kSettingsView, "ShowAllNotificationsHistory", value);
}
bool Settings::IgnoreBetaVersions() const { return ReadInt(kSettings, "IgnoreBetaVersions", 1) != 0; }
void Settings::SetIgnoreBetaVersions(bool ignore) {
  WriteInt(kSettings, "IgnoreBetaVersions", ignore ? 1 : 0);
}
int Settings::NotificationBalloonTimeout() const {
  return ReadInt(kSettings, "NotificationBalloonTimeout", 10);
}
void Settings::SetNotificationBalloonTimeout(int seconds) {
  WriteInt(kSettings, "NotificationBalloonTimeout", seconds);
}
int Settings::DisablePUL() const { return ReadInt(kSettings, "DisablePUL", 1); }

std::optional<WindowRect> Settings::MainWndPlacement() const {
  auto key = registry_.Open(RootKey::CurrentUser, SectionPath(kView));
  if (!key) return std::nullopt;
  auto v = key->Read("MainWndPlacement");
  // Anything but exactly four 32-bit integers is not a placement.
  if (!v || v->type != RegType::Binary || v->bytes.size() != 16) return std::nullopt;
  std::int32_t f[4];
  for (int i = 0; i < 4; ++i) {
    std::uint32_t u = 0;
    for (int b = 3; b >= 0; --b) u = (u << 8) | v->bytes[static_cast<std::size_t>(i * 4 + b)];
    f[i] = static_cast<std::int32_t>(u);
  }
  return WindowRect{f[0], f[1], f[2], f[3]};
}

void Settings::SetMainWndPlacement(const WindowRect& rect) {
  std::vector<unsigned char> bytes;
  for (std::int32_t v : {rect.left, rect.top, rect.right, rect.bottom}) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<unsigned char>(u >> (8 * b)));
  }
  registry_.Write(RootKey::CurrentUser, SectionPath(kView), "MainWndPlacement",
                  RegValue::Binary(std::move(bytes)))
      .IgnoreError();
}

std::string Settings::BundledWithSN() const {
  return registry_.ReadString(RootKey::CurrentUser, kAppKeyPath, "BundledWithSN").value_or("");
}
std::string Settings::BundledWithLN() const {
  return registry_.ReadString(RootKey::CurrentUser, kAppKeyPath, "BundledWithLN").value_or("");
}

std::optional<std::string> Settings::StoredText(const SettingInfo& info) const {
  auto key = registry_.Open(RootKey::CurrentUser, SectionPath(info.section));
  if (!key) return std::nullopt;
  auto v = key->Read(info.name);
  if (!v) return std::nullopt;
  switch (info.type) {
    case SettingType::Integer:
    case SettingType::Boolean:
      if (v->type != RegType::Dword) return std::nullopt;  // a wrong type reads as the default
      return text::Format("%d", static_cast<int>(static_cast<std::uint32_t>(v->number)));
    case SettingType::String:
      if (v->type != RegType::String && v->type != RegType::ExpandString) return std::nullopt;
      return v->text;
    case SettingType::Binary: {
      if (info.name == std::string("MainWndPlacement")) {
        auto r = MainWndPlacement();
        if (!r) return std::nullopt;
        return text::Format("%d,%d,%d,%d", r->left, r->top, r->right, r->bottom);
      }
      std::string hex;
      for (unsigned char b : v->bytes) hex += text::Format("%02x", b);
      return hex;
    }
  }
  return std::nullopt;
}

}  // namespace kv::app
