#include <gtest/gtest.h>

#include "app/shell_actions.h"
#include "platform/fake/fake_machine.h"

namespace kv::app {
namespace {

using platform::RegValue;
using platform::RootKey;

class ShellActionsTest : public ::testing::Test {
 protected:
  void RegisterBrowser(const char* protocol, const char* command) {
    m.registry.Write(RootKey::ClassesRoot, std::string(protocol) + "\\shell\\open\\command", "",
                     RegValue::String(command));
  }
  platform::FakeMachine m;
};

TEST_F(ShellActionsTest, OpenUrlStartsTheRegisteredBrowserLowerCased) {
  RegisterBrowser("http", "\"C:\\Program Files\\Web\\Browser.EXE\" -osint -url \"%1\"");
  OpenUrl(m.machine, "https://example.test/a?b=1");
  auto calls = m.shell.executed();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].verb, "open");
  EXPECT_EQ(calls[0].file, "c:\\program files\\web\\browser.exe");
  EXPECT_EQ(calls[0].parameters, "https://example.test/a?b=1");
}

TEST_F(ShellActionsTest, OpenUrlUsesTheFtpHandlerForOtherSchemes) {
  RegisterBrowser("http", "web.exe %1");
  RegisterBrowser("ftp", "ftpclient.exe %1");
  OpenUrl(m.machine, "ftp://files.test/");
  EXPECT_EQ(m.shell.executed().at(0).file, "ftpclient.exe");
}

TEST_F(ShellActionsTest, OpenUrlFallsBackToTheUrlItself) {
  RegisterBrowser("http", "rundll32 url.dll,FileProtocolHandler %1");  // no ".exe"
  OpenUrl(m.machine, "http://a.test/");
  auto calls = m.shell.executed();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].file, "http://a.test/");
  EXPECT_EQ(calls[0].parameters, "");
}

TEST_F(ShellActionsTest, OpenUrlFallsBackWhenTheBrowserFailsToStart) {
  RegisterBrowser("http", "gone.exe %1");
  m.shell.SetExecuteResult(2);  // file not found
  OpenUrl(m.machine, "http://a.test/");
  auto calls = m.shell.executed();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].file, "http://a.test/");
}

TEST_F(ShellActionsTest, OpenUrlWithoutAnyHandlerOpensTheUrl) {
  OpenUrl(m.machine, "http://a.test/");
  EXPECT_EQ(m.shell.executed().at(0).file, "http://a.test/");
}

TEST_F(ShellActionsTest, LinkTargetsAreCommandsMailOrPages) {
  int command = 0;
  EXPECT_EQ(ClassifyLinkTarget("1019", &command), LinkKind::Command);
  EXPECT_EQ(command, 1019);
  EXPECT_EQ(ClassifyLinkTarget("MailTo:support@korvan.test"), LinkKind::Mail);
  EXPECT_EQ(ClassifyLinkTarget("http://a.test/"), LinkKind::Url);
  EXPECT_EQ(ClassifyLinkTarget(""), LinkKind::Url);

  std::vector<int> posted;
  FollowLink(m.machine, "32781", [&](int c) { posted.push_back(c); });
  FollowLink(m.machine, "mailto:x@y.test", [&](int c) { posted.push_back(c); });
  EXPECT_EQ(posted, std::vector<int>{32781});
  auto calls = m.shell.executed();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].on_desktop_window);
}

TEST_F(ShellActionsTest, AutorunEntryHoldsTheUnquotedPathAndSwitch) {
  AutorunEntry entry(m.machine);
  EXPECT_FALSE(entry.Exists());
  EXPECT_TRUE(entry.Write(true));
  EXPECT_EQ(m.registry.ReadString(RootKey::CurrentUser, kRunKeyPath, "Korvan"),
            "C:\\Program Files\\Korvan\\korvapp.exe -autorun");
  EXPECT_TRUE(entry.Exists());
  EXPECT_TRUE(entry.Write(false));
  EXPECT_FALSE(entry.Exists());
  EXPECT_FALSE(entry.Write(false));  // nothing left to delete
}

TEST_F(ShellActionsTest, AutorunQueryIgnoresTheValuesData) {
  m.registry.Write(RootKey::CurrentUser, kRunKeyPath, "Korvan", RegValue::Dword(0));
  EXPECT_TRUE(AutorunEntry(m.machine).Exists());
}

}  // namespace
}  // namespace kv::app
