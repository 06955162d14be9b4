#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/fake/fake_machine.h"

namespace kv::app {
namespace {

using platform::RegValue;
using platform::RootKey;

class SettingsTest : public ::testing::Test {
 protected:
  platform::FakeMachine m;
  Settings settings{m.registry};
};

TEST_F(SettingsTest, AbsentValuesReadAsDefaultsAndNothingIsWritten) {
  EXPECT_EQ(settings.UpdatesCommentsEtcAutocheckInterval(), 36000);
  EXPECT_EQ(settings.SuggestVisitMyUpdatesPage(), 1);
  EXPECT_EQ(settings.DontAskWriteCommentsForNewSoft(), 0);
  EXPECT_EQ(settings.ShowAllNotificationsHistory(), 0);
  EXPECT_TRUE(settings.IgnoreBetaVersions());
  EXPECT_EQ(settings.NotificationBalloonTimeout(), 10);
  EXPECT_EQ(settings.DisablePUL(), 1);
  EXPECT_FALSE(settings.MainWndPlacement().has_value());
  EXPECT_EQ(settings.BundledWithSN(), "");
  EXPECT_EQ(settings.BundledWithLN(), "");
  EXPECT_EQ(m.registry.Open(RootKey::CurrentUser, "Software\\Tavrin Technologies, Inc."), nullptr);
}

TEST_F(SettingsTest, SettersWriteDwordsInTheirSections) {
  settings.SetUpdatesCommentsEtcAutocheckInterval(-1);
  settings.SetSuggestVisitMyUpdatesPage(2);
  settings.SetShowAllNotificationsHistory(1);
  settings.SetNotificationBalloonTimeout(kBalloonNever);
  EXPECT_EQ(m.registry.ReadDword(RootKey::CurrentUser,
                                 "Software\\Tavrin Technologies, Inc.\\Korvan\\Settings",
                                 "UpdatesCommentsEtcAutocheckInterval"),
            0xFFFFFFFFu);
  EXPECT_EQ(m.registry.ReadDword(RootKey::CurrentUser,
                                 "software\\tavrin technologies, inc.\\korvan\\settings\\view",
                                 "SuggestVisitMyUpdatesPage"),
            2u);
  EXPECT_EQ(settings.UpdatesCommentsEtcAutocheckInterval(), -1);
  EXPECT_EQ(settings.ShowAllNotificationsHistory(), 1);
  EXPECT_EQ(settings.NotificationBalloonTimeout(), 3600000);
}

TEST_F(SettingsTest, IgnoreBetaIsAnyNonZeroValue) {
  m.registry.Write(RootKey::CurrentUser, SectionPath("Settings"), "IgnoreBetaVersions",
                   RegValue::Dword(7));
  EXPECT_TRUE(settings.IgnoreBetaVersions());
  settings.SetIgnoreBetaVersions(false);
  EXPECT_FALSE(settings.IgnoreBetaVersions());
}

TEST_F(SettingsTest, WrongValueTypeReadsAsDefault) {
  m.registry.Write(RootKey::CurrentUser, SectionPath("Settings"), "NotificationBalloonTimeout",
                   RegValue::String("30"));
  EXPECT_EQ(settings.NotificationBalloonTimeout(), 10);
}

TEST_F(SettingsTest, PlacementRoundTripsSignedLittleEndian) {
  settings.SetMainWndPlacement({-8, 20, 1300, 900});
  auto v = m.registry.Open(RootKey::CurrentUser, SectionPath("View"))->Read("MainWndPlacement");
  ASSERT_TRUE(v);
  ASSERT_EQ(v->bytes.size(), 16u);
  EXPECT_EQ(v->bytes[0], 0xF8);  // -8, little-endian
  EXPECT_EQ(v->bytes[3], 0xFF);
  EXPECT_EQ(v->bytes[4], 20);
  EXPECT_EQ(settings.MainWndPlacement(), (WindowRect{-8, 20, 1300, 900}));
}

TEST_F(SettingsTest, PlacementOfTheWrongSizeIsAbsent) {
  m.registry.Write(RootKey::CurrentUser, SectionPath("View"), "MainWndPlacement",
                   RegValue::Binary({1, 2, 3}));
  EXPECT_FALSE(settings.MainWndPlacement().has_value());
}

TEST_F(SettingsTest, FailedWritesAreSilentAndLeaveDefaults) {
  m.registry.SetReadOnly(true);
  settings.SetIgnoreBetaVersions(false);
  EXPECT_TRUE(settings.IgnoreBetaVersions());
}

TEST_F(SettingsTest, TableListsEverySettingOnceWithItsDefault) {
  const auto& all = AllSettings();
  struct Row {
    std::string section, name, default_text;
    bool operator==(const Row&) const = default;
  };
  std::vector<Row> rows;
  for (const auto& s : all) rows.push_back({s.section, s.name, s.default_text});
  const std::vector<Row> expected = {
      {"Settings", "UpdatesCommentsEtcAutocheckInterval", "36000"},
      {"Settings\\View", "SuggestVisitMyUpdatesPage", "1"},
      {"Settings", "DontAskWriteCommentsForNewSoft", "0"},
      {"Settings\\View", "ShowAllNotificationsHistory", "0"},
      {"Settings", "IgnoreBetaVersions", "1"},
      {"Settings", "NotificationBalloonTimeout", "10"},
      {"Settings", "DisablePUL", "1"},
      {"View", "MainWndPlacement", "(absent)"},
      {"", "BundledWithSN", ""},
      {"", "BundledWithLN", ""},
  };
  EXPECT_TRUE(rows == expected);
  EXPECT_EQ(all[4].type, SettingType::Boolean);
  EXPECT_EQ(all[7].type, SettingType::Binary);
  for (const auto& s : all) EXPECT_FALSE(settings.StoredText(s).has_value()) << s.name;
  settings.SetUpdatesCommentsEtcAutocheckInterval(1800);
  EXPECT_EQ(settings.StoredText(all[0]), "1800");
}

}  // namespace
}  // namespace kv::app
