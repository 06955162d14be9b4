// The real adapters on Wine's registry, shell folders and file system.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/activity_log.h"
#include "app/data_folder.h"
#include "app/settings.h"
#include "app/shell_actions.h"
#include "platform/machine.h"

namespace kv {
namespace {

using platform::RegValue;
using platform::RegView;
using platform::RootKey;

platform::Machine& Real() { return platform::SystemMachine(); }

constexpr char kScratchKey[] = "Software\\Tavrin Technologies, Inc.\\KorvanIntegrationTest";

class RealRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    Real().registry.DeleteTree(RootKey::CurrentUser, kScratchKey);
    Real().registry.DeleteTree(RootKey::CurrentUser, app::kAppKeyPath);
    Real().registry.DeleteTree(RootKey::LocalMachine, "Software\\KorvanViewTest", RegView::View32);
    Real().registry.DeleteTree(RootKey::LocalMachine, "Software\\KorvanViewTest", RegView::View64);
  }
};

TEST_F(RealRegistryTest, ValuesRoundTripWithTheirTypesAndNonAsciiText) {
  auto& reg = Real().registry;
  const std::string name = "Caf\xC3\xA9 \xD0\x9F\xD1\x80\xD0\xBE";  // Café Про
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, kScratchKey, name, RegValue::String(name)));
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, kScratchKey, "D", RegValue::Dword(0xFFFFFFFF)));
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, kScratchKey, "B", RegValue::Binary({0, 1, 2, 255})));
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, kScratchKey, "E", RegValue::Expand("%TEMP%\\x")));
  auto key = reg.Open(RootKey::CurrentUser, kScratchKey);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadString(name), name);
  EXPECT_EQ(key->ReadDword("d"), 0xFFFFFFFFu);
  EXPECT_EQ(key->Read("B")->bytes, (std::vector<unsigned char>{0, 1, 2, 255}));
  EXPECT_EQ(key->Read("E")->type, platform::RegType::ExpandString);
  EXPECT_EQ(key->Values().size(), 4u);
  EXPECT_FALSE(key->Write("x", RegValue::Dword(1)));  // opened read-only
  EXPECT_TRUE(reg.DeleteValue(RootKey::CurrentUser, kScratchKey, "D"));
  EXPECT_FALSE(reg.ReadDword(RootKey::CurrentUser, kScratchKey, "D"));
}

TEST_F(RealRegistryTest, SubkeysEnumerateAndDeleteTreeRemovesThem) {
  auto& reg = Real().registry;
  reg.Write(RootKey::CurrentUser, std::string(kScratchKey) + "\\One\\Deep", "v", RegValue::Dword(1));
  reg.Write(RootKey::CurrentUser, std::string(kScratchKey) + "\\Two", "v", RegValue::Dword(2));
  auto names = reg.Open(RootKey::CurrentUser, kScratchKey)->SubKeyNames();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_TRUE(reg.DeleteTree(RootKey::CurrentUser, kScratchKey));
  EXPECT_EQ(reg.Open(RootKey::CurrentUser, kScratchKey), nullptr);
}

// The times the uninstall scan relies on: a value written or deleted moves
// its key's time, a subkey created or deleted moves its parent's, and a
// change further down moves neither.
TEST_F(RealRegistryTest, SubkeyTimesMoveAsTheScanExpects) {
  auto& reg = Real().registry;
  const std::string top = kScratchKey;
  const auto time_of = [&](const std::string& parent, const char* name) -> platform::FileTime {
    auto key = reg.Open(RootKey::CurrentUser, parent);
    if (key)
      for (const platform::SubKeyInfo& k : key->SubKeys())
        if (k.name == name) return k.last_write;
    ADD_FAILURE() << name;
    return 0;
  };
  // Each step waits past the clock's tick so that a move shows.
  const auto later = [] { std::this_thread::sleep_for(std::chrono::milliseconds(30)); };
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, top + "\\A\\Deep", "v", RegValue::Dword(1)));
  const platform::FileTime a0 = time_of(top, "A"), deep0 = time_of(top + "\\A", "Deep");
  EXPECT_NE(a0, 0u);
  later();
  // Wine keeps the time when the same data is written again; Windows moves it.
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, top + "\\A\\Deep", "v", RegValue::Dword(2)));
  const platform::FileTime deep1 = time_of(top + "\\A", "Deep");
  EXPECT_GT(deep1, deep0);
  EXPECT_EQ(time_of(top, "A"), a0);      // not the parent
  later();
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, top + "\\A\\Other", "v", RegValue::Dword(1)));
  const platform::FileTime a1 = time_of(top, "A");
  EXPECT_GT(a1, a0);
  EXPECT_EQ(time_of(top + "\\A", "Deep"), deep1);  // not a sibling
  later();
  ASSERT_TRUE(reg.DeleteValue(RootKey::CurrentUser, top + "\\A\\Deep", "v"));
  EXPECT_GT(time_of(top + "\\A", "Deep"), deep1);
  later();
  ASSERT_TRUE(reg.DeleteTree(RootKey::CurrentUser, top + "\\A\\Other"));
  EXPECT_GT(time_of(top, "A"), a1);
}

TEST_F(RealRegistryTest, TheTwoViewsOfHklmAreSeparate) {
  auto& reg = Real().registry;
  ASSERT_TRUE(reg.Write(RootKey::LocalMachine, "Software\\KorvanViewTest", "Bits",
                        RegValue::String("32"), RegView::View32));
  EXPECT_EQ(reg.ReadString(RootKey::LocalMachine, "Software\\KorvanViewTest", "Bits", RegView::View32),
            "32");
  EXPECT_FALSE(
      reg.ReadString(RootKey::LocalMachine, "Software\\KorvanViewTest", "Bits", RegView::View64));
  EXPECT_EQ(reg.ReadString(RootKey::LocalMachine, "Software\\WOW6432Node\\KorvanViewTest", "Bits",
                           RegView::View64),
            "32");
}

TEST_F(RealRegistryTest, SettingsLiveUnderTheCompanyKeyAndDefaultWhenAbsent) {
  app::Settings settings(Real().registry);
  EXPECT_EQ(settings.UpdatesCommentsEtcAutocheckInterval(), 36000);
  EXPECT_TRUE(settings.IgnoreBetaVersions());
  EXPECT_EQ(settings.DisablePUL(), 1);
  settings.SetUpdatesCommentsEtcAutocheckInterval(1800);
  settings.SetIgnoreBetaVersions(false);
  settings.SetMainWndPlacement({10, 20, 530, 680});
  EXPECT_EQ(Real().registry.ReadDword(RootKey::CurrentUser,
                                      "Software\\Tavrin Technologies, Inc.\\Korvan\\Settings",
                                      "UpdatesCommentsEtcAutocheckInterval"),
            1800u);
  app::Settings again(Real().registry);
  EXPECT_EQ(again.UpdatesCommentsEtcAutocheckInterval(), 1800);
  EXPECT_FALSE(again.IgnoreBetaVersions());
  EXPECT_EQ(again.MainWndPlacement(), (app::WindowRect{10, 20, 530, 680}));
}

TEST_F(RealRegistryTest, AutorunEntrySwitchesTheRunValue) {
  app::AutorunEntry entry(Real());
  entry.Write(false);
  EXPECT_FALSE(entry.Exists());
  ASSERT_TRUE(entry.Write(true));
  const auto data = Real().registry.ReadString(RootKey::CurrentUser, app::kRunKeyPath, "Korvan");
  ASSERT_TRUE(data);
  EXPECT_EQ(*data, Real().shell.ExecutablePath() + " -autorun");
  EXPECT_TRUE(entry.Write(false));
  EXPECT_FALSE(entry.Exists());
}

TEST(RealFolders, DataFilePathCreatesTheDataFolderInRoamingAppData) {
  app::DataFolder folder(Real());
  const std::string appdata = folder.GetAppDataFolder();
  EXPECT_EQ(appdata.back(), '\\');
  EXPECT_NE(appdata.find("AppData\\Roaming"), std::string::npos) << appdata;
  const std::string path = folder.GetDataFilePath("integration.tmp");
  EXPECT_EQ(path, appdata + "Korvan\\integration.tmp");
  EXPECT_TRUE(Real().files.IsDirectory(appdata + "Korvan"));
}

TEST(RealFiles, LogFlushAppendsToARealFile) {
  app::DataFolder folder(Real());
  folder.GetDataFilePath("x");  // creates the folder, as start-up does
  const std::string path = folder.GetDataFolder() + "integration-log.PUL";
  Real().files.Delete(path);
  {
    app::ActivityLog log(Real());
    log.Open(path, false, "");
    log.SetDisabled(false);
    log.Write("first %d", 1);
    log.Flush();
    log.Write("second \xC3\xA9");
  }  // destruction flushes
  const auto content = Real().files.ReadAll(path);
  ASSERT_TRUE(content);
  EXPECT_NE(content->find(") first 1\r\n("), std::string::npos);
  EXPECT_EQ(content->substr(content->size() - 11), "second \xC3\xA9\r\n");
  EXPECT_EQ(content->front(), '(');
  Real().files.Delete(path);
}

TEST(RealFiles, CreateModesSharingAndListing) {
  auto& fs = Real().files;
  const std::string dir = fs.TempFolder() + "korvan-it-\xC3\xA9";
  fs.MakeDirectory(dir);
  const std::string f = dir + "\\f\xC3\xBC.txt";
  ASSERT_TRUE(fs.WriteAll(f, "abc"));
  EXPECT_EQ(fs.OpenWrite(f, platform::OpenMode::CreateNew), nullptr);
  {
    auto open = fs.OpenWrite(f, platform::OpenMode::Append);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(fs.OpenWrite(f, platform::OpenMode::Append), nullptr);  // no sharing
    open->Write("def");
    open->Close();
  }
  EXPECT_EQ(fs.ReadAll(f), "abcdef");
  auto listed = fs.ListFolder(dir, "*.TXT");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].name, "f\xC3\xBC.txt");
  EXPECT_EQ(listed[0].info.size, 6u);
  EXPECT_GT(listed[0].info.last_write, 0u);
  EXPECT_TRUE(fs.Move(f, dir + "\\g.txt", false));
  EXPECT_TRUE(fs.Delete(dir + "\\g.txt"));
  EXPECT_TRUE(fs.RemoveFolder(dir));
}

// The adapters turn the system's error codes into the kinds that the stores
// and the log rely on, with the code and the object named.
TEST(RealFiles, FailuresCarryTheirReason) {
  using platform::ErrorKind;
  auto& fs = Real().files;
  const std::string dir = fs.TempFolder() + "korvan-it-why";
  fs.MakeDirectory(dir);
  const std::string f = dir + "\\held.xml";
  ASSERT_TRUE(fs.WriteAll(f, "<KV/>"));

  const auto missing = fs.ReadAll(dir + "\\missing.xml");
  EXPECT_TRUE(missing.status().Is(ErrorKind::NotFound)) << missing.status().ToString();
  EXPECT_EQ(missing.status().code(), 2u);  // ERROR_FILE_NOT_FOUND
  EXPECT_NE(missing.status().message().find("missing.xml"), std::string::npos);
  EXPECT_TRUE(fs.OpenWrite(dir + "\\no\\f", platform::OpenMode::CreateAlways)
                  .status()
                  .Is(ErrorKind::NotFound));
  EXPECT_TRUE(fs.OpenWrite(f, platform::OpenMode::CreateNew).status().Is(ErrorKind::AlreadyExists));
  EXPECT_TRUE(fs.Delete(dir + "\\missing.xml").Is(ErrorKind::NotFound));
  {
    auto open = fs.OpenWrite(f, platform::OpenMode::Append);
    ASSERT_TRUE(open);
    const auto busy = fs.ReadAll(f);
    EXPECT_TRUE(busy.status().Is(ErrorKind::SharingViolation)) << busy.status().ToString();
    EXPECT_TRUE(fs.Delete(f).Is(ErrorKind::SharingViolation));
    EXPECT_TRUE(open->Close());
  }
  EXPECT_TRUE(fs.Delete(f));
  EXPECT_TRUE(fs.RemoveFolder(dir));
}

TEST_F(RealRegistryTest, FailuresCarryTheirReason) {
  using platform::ErrorKind;
  auto& reg = Real().registry;
  const auto missing = reg.Open(RootKey::CurrentUser, std::string(kScratchKey) + "\\Nothing");
  EXPECT_TRUE(missing.status().Is(ErrorKind::NotFound)) << missing.status().ToString();
  EXPECT_NE(missing.status().message().find("HKEY_CURRENT_USER\\Software\\Tavrin"),
            std::string::npos);
  ASSERT_TRUE(reg.Write(RootKey::CurrentUser, kScratchKey, "v", RegValue::Dword(1)));
  EXPECT_TRUE(reg.DeleteValue(RootKey::CurrentUser, kScratchKey, "absent").Is(ErrorKind::NotFound));
  EXPECT_TRUE(reg.DeleteTree(RootKey::CurrentUser, std::string(kScratchKey) + "\\Nothing")
                  .Is(ErrorKind::NotFound));
}

}  // namespace
}  // namespace kv
