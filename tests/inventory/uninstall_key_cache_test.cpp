#include "inventory/uninstall_key_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_machine.h"

namespace kv::inventory {
namespace {

using platform::RegValue;
using platform::RegView;
using platform::RootKey;

constexpr platform::FileTime kMinute = 60ull * 10'000'000;

RegValue S(std::string text) { return RegValue::String(std::move(text)); }

// A machine with entries of every shape the scan derives from files: quoted
// and unquoted uninstallers, MsiExec on the search path, environment
// strings, short names, app folders from the uninstaller with hidden
// folders in between, and a key that lists no program.
class UninstallKeyCacheTest : public ::testing::Test {
 protected:
  UninstallKeyCacheTest() {
    m.files.AddFile("C:\\Windows\\system32\\msiexec.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Quoted\\uninst.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Spaced App\\un install.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Spaced App\\run.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Env\\remove.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Hidden\\bin\\u.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Long~Name\\u.exe", "MZ");
    m.files.AddFile("C:\\Users\\user\\AppData\\Local\\Tool\\uninstall.exe", "MZ");
    Put(RootKey::LocalMachine, "Quoted", "Quoted", "\"C:\\Program Files\\Quoted\\uninst.exe\" /x",
        {{"InstallLocation", S("C:\\Program Files\\Quoted")}, {"DisplayVersion", S("1.0")}});
    Put(RootKey::LocalMachine, "Spaced", "Spaced", "C:\\Program Files\\Spaced App\\un install.exe -S");
    Put(RootKey::LocalMachine, "Msi", "Msi product", "MsiExec.exe /X{1234}", {}, RegView::View32);
    Put(RootKey::LocalMachine, "Env", "Env", "\"%ProgramFiles%\\Env\\remove.exe\"", {}, RegView::View32);
    Put(RootKey::LocalMachine, "Hidden", "Hidden", "\"C:\\Program Files\\Hidden\\bin\\u.exe\"");
    Put(RootKey::LocalMachine, "Short", "Short", "\"c:\\program files\\LONG~NAME\\u.exe\"",
        {{"InstallLocation", S("c:\\program files\\long~name\\")}});
    Put(RootKey::CurrentUser, "User", "User tool",
        "\"C:\\Users\\user\\AppData\\Local\\Tool\\uninstall.exe\"", {}, RegView::Native);
    Put(RootKey::CurrentUser, "Quoted2", "Quoted", "\"C:\\Program Files\\Quoted\\uninst.exe\"",
        {{"DisplayVersion", S("2.0")}, {"Publisher", S("Later")}}, RegView::Native);
    Put(RootKey::LocalMachine, "Runtime", "Runtime", "\"C:\\Program Files\\Quoted\\uninst.exe\"",
        {{"SystemComponent", RegValue::Dword(1)}});
    Settle();
  }

  void Put(RootKey root, const std::string& id, const std::string& name,
           const std::string& uninstall, std::vector<std::pair<std::string, RegValue>> more = {},
           RegView view = RegView::View64) {
    more.insert(more.begin(), {{"DisplayName", S(name)}, {"UninstallString", S(uninstall)}});
    for (const auto& [value_name, value] : more)
      ASSERT_TRUE(m.registry.Write(root, Path(id), value_name, value, view));
  }
  static std::string Path(const std::string& id) {
    return std::string(kUninstallKeyPath) + "\\" + id;
  }
  // Lets the clock pass the settling time, so that what was written is trusted.
  void Settle() { m.clock.Advance(kMinute); }

  // The incremental scan against a fresh scanner of the same machine.
  void ExpectSameAsFresh(const char* step) {
    SCOPED_TRACE(step);
    incremental.Scan();
    UninstallScanner fresh(machine, folder);
    fresh.Scan();
    ASSERT_GT(fresh.Count(), 0u);
    EXPECT_EQ(incremental.entries(), fresh.entries());
  }

  platform::FakeMachine m;
  platform::Machine& machine = m.machine;
  app::DataFolder folder{machine};
  UninstallKeyCache keys;
  UninstallScanner incremental{machine, folder, UninstallScanner::Caching::Off, &keys};
};

TEST_F(UninstallKeyCacheTest, IncrementalScansEqualFreshOnesAfterEveryKindOfChange) {
  ExpectSameAsFresh("first scan");
  EXPECT_EQ(keys.read(), 9u);
  ExpectSameAsFresh("nothing changed");
  EXPECT_EQ(keys.reused(), 9u);
  EXPECT_EQ(keys.read(), 0u);

  // Registry changes: only the touched subkeys are read again.
  ASSERT_TRUE(m.registry.Write(RootKey::LocalMachine, Path("Quoted"), "DisplayVersion", S("1.1"),
                               RegView::View64));
  Settle();
  ExpectSameAsFresh("one value changed");
  EXPECT_EQ(keys.read(), 1u);
  Settle();
  Put(RootKey::LocalMachine, "Added", "Added", "\"C:\\Program Files\\Quoted\\uninst.exe\"");
  ASSERT_TRUE(m.registry.DeleteTree(RootKey::LocalMachine, Path("Spaced"), RegView::View64));
  ASSERT_TRUE(m.registry.DeleteValue(RootKey::LocalMachine, Path("Runtime"), "SystemComponent",
                                     RegView::View64));
  Settle();
  ExpectSameAsFresh("keys added, removed and revealed");
  EXPECT_EQ(keys.read(), 2u);
  EXPECT_EQ(keys.size(), 9u);

  // File changes under unchanged keys.
  Settle();
  Put(RootKey::LocalMachine, "Spaced", "Spaced", "C:\\Program Files\\Spaced App\\un install.exe -S");
  Settle();
  ExpectSameAsFresh("spaced uninstaller back");
  ASSERT_TRUE(m.files.Delete("C:\\Program Files\\Spaced App\\un install.exe"));
  ExpectSameAsFresh("unquoted uninstaller deleted: the command splits differently");
  ASSERT_TRUE(m.files.Delete("C:\\Program Files\\Env\\remove.exe"));
  ExpectSameAsFresh("quoted uninstaller deleted: no app folder any more");
  Settle();
  ExpectSameAsFresh("settled");
  m.files.AddFile("C:\\Program Files\\Quoted\\uninst.exe", "MZ, rewritten");
  ExpectSameAsFresh("uninstaller touched: its contents and time do not count");
  EXPECT_EQ(keys.read(), 0u);
  m.files.SetHidden("C:\\Program Files\\Hidden", true);
  ExpectSameAsFresh("a folder of the chain hidden");
  m.files.SetHidden("C:\\Users\\user\\AppData", true);
  ExpectSameAsFresh("a folder higher up hidden");
  ASSERT_TRUE(m.files.Move("C:\\Program Files\\Long~Name\\u.exe",
                           "C:\\Program Files\\Long~Name\\U.EXE", false));
  ExpectSameAsFresh("the uninstaller renamed in letter case only");
  EXPECT_EQ(incremental.At(incremental.FindById("Short")).UninstallString.Path,
            "C:\\Program Files\\Long~Name\\U.EXE");
  ASSERT_TRUE(m.files.Delete("C:\\Windows\\system32\\msiexec.exe"));
  m.files.AddFile("C:\\Windows\\msiexec.exe", "MZ");
  ExpectSameAsFresh("MsiExec found elsewhere on the search path");
  m.shell.SetEnvironment("ProgramFiles", "D:\\Programs");
  m.files.AddFile("D:\\Programs\\Env\\remove.exe", "MZ");
  ExpectSameAsFresh("an environment string changed");
  EXPECT_EQ(incremental.At(incremental.FindById("Env")).AppFolder, "D:\\Programs\\Env\\");
}

// A subkey written in the same clock tick as the scan that read it keeps its
// time through a second write; such a subkey is never taken from a record.
TEST_F(UninstallKeyCacheTest, RecentTimesAreNotTrusted) {
  ExpectSameAsFresh("first scan");
  ASSERT_TRUE(m.registry.Write(RootKey::LocalMachine, Path("Quoted"), "DisplayName", S("Renamed"),
                               RegView::View64));
  ExpectSameAsFresh("written and scanned at the same time");
  ASSERT_TRUE(m.registry.Write(RootKey::LocalMachine, Path("Quoted"), "DisplayName", S("Again"),
                               RegView::View64));
  ExpectSameAsFresh("written again within the same tick");
  EXPECT_EQ(keys.read(), 1u);

  Settle();
  ExpectSameAsFresh("settled: read once more, then trusted");
  EXPECT_EQ(keys.read(), 1u);

  // A folder stamped just now makes the entries below it untrusted too.
  m.files.AddFile("C:\\Program Files\\Quoted\\new.dll", "MZ");
  ExpectSameAsFresh("a name added to the uninstaller's folder");
  EXPECT_EQ(keys.read(), 2u);  // "Quoted" in HKLM and in HKCU
  ExpectSameAsFresh("still within the same tick");
  EXPECT_EQ(keys.read(), 2u);
  m.clock.Advance(UninstallKeyCache::kSettleTicks);
  ExpectSameAsFresh("settled again");
  ExpectSameAsFresh("all trusted");
  EXPECT_EQ(keys.reused(), 9u);
}

TEST_F(UninstallKeyCacheTest, RecordsSurviveTheProcessInTheirFile) {
  ExpectSameAsFresh("first scan");
  ASSERT_TRUE(keys.changed());
  ASSERT_TRUE(keys.Save(folder));
  EXPECT_FALSE(keys.changed());

  UninstallKeyCache loaded;
  loaded.Load(folder);
  EXPECT_EQ(loaded.size(), keys.size());
  EXPECT_FALSE(loaded.changed());
  UninstallScanner next(machine, folder, UninstallScanner::Caching::Off, &loaded);
  next.Scan();
  EXPECT_EQ(loaded.read(), 0u);
  EXPECT_EQ(next.entries(), incremental.entries());
  EXPECT_FALSE(loaded.changed());

  // A file of another layout is not trusted.
  const std::string path = folder.GetDataFilePath(kUninstallKeyCacheFile);
  std::string text = *m.files.ReadAll(path);
  text.replace(text.find("Layout=\"1\""), 10, "Layout=\"0\"");
  ASSERT_TRUE(m.files.WriteAll(path, text));
  UninstallKeyCache old;
  old.Load(folder);
  EXPECT_EQ(old.size(), 0u);
  // Nor are records of another Windows folder.
  m.shell.SetFolder(platform::SpecialFolder::Windows, "D:\\Windows");
  UninstallScanner elsewhere(machine, folder, UninstallScanner::Caching::Off, &keys);
  elsewhere.Scan();
  EXPECT_EQ(keys.reused(), 0u);
}

}  // namespace
}  // namespace kv::inventory
