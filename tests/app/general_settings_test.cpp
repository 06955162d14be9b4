#include <gtest/gtest.h>

#include "app/general_settings.h"
#include "platform/fake/fake_machine.h"

namespace kv::app {
namespace {

using platform::RootKey;

class GeneralSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.files.AddFolder("C:\\Users\\user\\AppData\\Roaming\\Korvan");
    log.Open("Korvan", true, "C:\\Users\\user\\AppData\\Roaming\\");
    log.SetDisabled(false);
  }
  std::string Logged() {
    std::string out, all = log.Buffered();
    for (std::size_t pos = 0; pos < all.size();) {
      const std::size_t end = all.find("\r\n", pos);
      out += all.substr(pos + 23, end - pos - 23) + "|";
      pos = end + 2;
    }
    return out;
  }
  platform::FakeMachine m;
  Settings settings{m.registry};
  AutorunEntry autorun{m.machine};
  ActivityLog log{m.machine};
  int rearmed = 0;
  GeneralSettingsPresenter presenter{settings, autorun, log, [this] { ++rearmed; }};
};

TEST(IntervalChoices, FirstChoiceAtLeastTheStoredValue) {
  EXPECT_EQ(IntervalChoiceFor(-1), 0);
  EXPECT_EQ(IntervalChoiceFor(36000), 3);
  EXPECT_EQ(IntervalChoiceFor(36001), 4);
  EXPECT_EQ(IntervalChoiceFor(1), 0);
  EXPECT_EQ(IntervalChoiceFor(99999999), 9);
  EXPECT_STREQ(IntervalChoices()[9].text, "3 months");
  EXPECT_EQ(IntervalChoices()[9].seconds, 8035200);
}

TEST_F(GeneralSettingsTest, OpensFromTheStoredState) {
  auto s = presenter.Open();
  EXPECT_FALSE(s.launch_at_startup);
  EXPECT_TRUE(s.autocheck);
  EXPECT_EQ(s.interval_index, 3);
  EXPECT_TRUE(s.ignore_beta);

  settings.SetUpdatesCommentsEtcAutocheckInterval(-1);
  autorun.Write(true);
  s = presenter.Open();
  EXPECT_TRUE(s.launch_at_startup);
  EXPECT_FALSE(s.autocheck);
  EXPECT_EQ(s.interval_index, 0);
}

TEST_F(GeneralSettingsTest, OkWithoutChangesLogsNothingButStillStoresAndRearms) {
  presenter.Ok(presenter.Open());
  EXPECT_EQ(Logged(), "");
  EXPECT_EQ(rearmed, 1);
  // The interval and the beta flag are now stored explicitly.
  EXPECT_EQ(m.registry.ReadDword(RootKey::CurrentUser, SectionPath("Settings"),
                                 "UpdatesCommentsEtcAutocheckInterval"),
            36000u);
  EXPECT_EQ(m.registry.ReadDword(RootKey::CurrentUser, SectionPath("Settings"), "IgnoreBetaVersions"),
            1u);
}

TEST_F(GeneralSettingsTest, OkLogsEachChangeInOrder) {
  auto s = presenter.Open();
  s.launch_at_startup = true;
  s.interval_index = 4;
  s.ignore_beta = false;
  presenter.Ok(s);
  EXPECT_EQ(Logged(),
            "User switched on autorun.|User has changed auto updates interval to Day|"
            "User has enabled notification on beta versions|");
  EXPECT_TRUE(autorun.Exists());
  EXPECT_EQ(settings.UpdatesCommentsEtcAutocheckInterval(), 86400);
  EXPECT_FALSE(settings.IgnoreBetaVersions());
}

TEST_F(GeneralSettingsTest, UntickingAutocheckStoresMinusOneAndLogsOnce) {
  auto s = presenter.Open();
  s.autocheck = false;
  presenter.Ok(s);
  presenter.Ok(s);
  EXPECT_EQ(Logged(), "User has disabled auto updates.|");
  EXPECT_EQ(settings.UpdatesCommentsEtcAutocheckInterval(), -1);
}

TEST_F(GeneralSettingsTest, SwitchingAutorunOffDeletesTheEntry) {
  autorun.Write(true);
  auto s = presenter.Open();
  s.launch_at_startup = false;
  s.ignore_beta = true;
  presenter.Ok(s);
  EXPECT_FALSE(autorun.Exists());
  EXPECT_EQ(Logged(), "User switched off autorun.|");
}

TEST_F(GeneralSettingsTest, CancelStoresNothing) {
  presenter.Cancel();
  EXPECT_EQ(m.registry.Open(RootKey::CurrentUser, SectionPath("Settings")), nullptr);
  EXPECT_EQ(rearmed, 0);
}

}  // namespace
}  // namespace kv::app
