#include "inventory/uninstall_scanner.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "inventory/uninstall_cache.h"
#include "platform/fake/fake_machine.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

using platform::RegValue;
using platform::RegView;
using platform::RootKey;
using Values = std::vector<std::pair<std::string, RegValue>>;

RegValue S(std::string text) { return RegValue::String(std::move(text)); }

class UninstallScannerTest : public ::testing::Test {
 protected:
  void Put(RootKey root, const std::string& id, const Values& values,
           RegView view = RegView::View64) {
    for (const auto& [name, value] : values)
      ASSERT_TRUE(
          m.registry.Write(root, std::string(kUninstallKeyPath) + "\\" + id, name, value, view));
  }
  // A usable entry: a display name and an uninstaller that exists.
  void PutProgram(RootKey root, const std::string& id, const std::string& name, Values more = {},
                  RegView view = RegView::View64) {
    const std::string exe = "C:\\Program Files\\" + id + "\\uninst.exe";
    m.files.AddFile(exe, "MZ");
    more.insert(more.begin(),
                {{"DisplayName", S(name)}, {"UninstallString", S("\"" + exe + "\"")}});
    Put(root, id, more, view);
  }
  std::vector<std::string> Ids() {
    std::vector<std::string> ids;
    for (const auto& e : scanner.entries()) ids.push_back(e.Id);
    return ids;
  }
  const UninstallEntry& Only(const std::string& id) {
    const int i = scanner.FindById(id);
    EXPECT_GE(i, 0) << id;
    return scanner.At(i < 0 ? 0 : i);
  }

  platform::FakeMachine m;
  platform::Machine& machine = m.machine;
  app::DataFolder folder{machine};
  UninstallScanner scanner{machine, folder};
};

TEST_F(UninstallScannerTest, SkipsHiddenNamelessAndUnremovableEntries) {
  PutProgram(RootKey::LocalMachine, "Sys1", "Hidden runtime",
             {{"SystemComponent", RegValue::Dword(1)}});
  PutProgram(RootKey::LocalMachine, "Sys0", "Visible tool",
             {{"SystemComponent", RegValue::Dword(0)}});
  PutProgram(RootKey::LocalMachine, "SysText0", "Text zero", {{"SystemComponent", S("0")}});
  PutProgram(RootKey::LocalMachine, "SysText1", "Text one", {{"SystemComponent", S("1")}});
  PutProgram(RootKey::LocalMachine, "Blank", "    ");
  PutProgram(RootKey::LocalMachine, "Empty", "");
  Put(RootKey::LocalMachine, "NoName", {{"UninstallString", S("C:\\x\\u.exe")}});
  Put(RootKey::LocalMachine, "NoUninstaller", {{"DisplayName", S("Left behind")}});
  Put(RootKey::LocalMachine, "OpenQuote",
      {{"DisplayName", S("Broken quote")}, {"UninstallString", S("\"C:\\x\\u.exe /S")}});
  Put(RootKey::LocalMachine, "NumberName",
      {{"DisplayName", RegValue::Dword(7)}, {"UninstallString", S("C:\\x\\u.exe")}});

  EXPECT_TRUE(scanner.Scan());
  EXPECT_EQ(Ids(), (std::vector<std::string>{"Sys0", "SysText0"}));
}

TEST_F(UninstallScannerTest, ReadsEveryFieldAndTrimsOnlyBlanks) {
  PutProgram(RootKey::LocalMachine, "Full", "  Foo Editor  ",
             {{"DisplayVersion", S(" 2.1 ")},
              {"Publisher", S("  Foo Ltd ")},
              {"DisplayIcon", S(" C:\\Program Files\\Full\\foo.exe,0 ")},
              {"Inno Setup: Icon Group", S("  Foo ")},
              {"Contact", S(" a@b ")},
              {"HelpLink", S(" http://h ")},
              {"InstallDate", S(" 20240105 ")},
              {"InstallSource", S(" D:\\ ")},
              {"URLInfoAbout", S(" http://a ")},
              {"URLUpdateInfo", RegValue::Expand(" http://u\t")}});
  ASSERT_TRUE(scanner.Scan());
  const UninstallEntry& e = scanner.At(0);
  EXPECT_EQ(e.Id, "Full");
  EXPECT_EQ(e.DisplayName, "Foo Editor");
  EXPECT_EQ(e.DisplayVersion, "2.1");
  EXPECT_EQ(e.Publisher, "Foo Ltd");
  EXPECT_EQ(e.DisplayIcon, "C:\\Program Files\\Full\\foo.exe,0");
  EXPECT_EQ(e.IconGroup, "  Foo ");  // as stored
  EXPECT_EQ(e.Contact, "a@b");
  EXPECT_EQ(e.HelpLink, "http://h");
  EXPECT_EQ(e.InstallDate, "20240105");
  EXPECT_EQ(e.InstallSource, "D:\\");
  EXPECT_EQ(e.URLInfoAbout, "http://a");
  EXPECT_EQ(e.URLUpdateInfo, "http://u\t");  // blanks are spaces only
  EXPECT_EQ(e.UninstallString.Path, "C:\\Program Files\\Full\\uninst.exe");
  EXPECT_EQ(e.UninstallString.Arguments, "");
  EXPECT_EQ(e.AppFolder, "C:\\Program Files\\Full\\");
}

TEST_F(UninstallScannerTest, ValuesOfAnyTypeAndTheBufferLimits) {
  const std::string long_name(999, 'n');
  PutProgram(RootKey::LocalMachine, "Fits", long_name,
             {{"Publisher", RegValue::Binary({'A', 'c', 'm', 'e', 0, 'x'})},
              {"DisplayVersion", RegValue::Dword(3)},
              {"Contact", S(std::string(1000, 'c'))}});
  PutProgram(RootKey::LocalMachine, "TooLong", std::string(1000, 'x'));
  PutProgram(RootKey::LocalMachine, std::string(260, 'k'), "Name too long for the key buffer");
  PutProgram(RootKey::LocalMachine, std::string("Nul\0Inside", 10), "Not a Win32 key name");
  PutProgram(RootKey::LocalMachine, "Zafter", "After the long key");
  ASSERT_TRUE(scanner.Scan());
  EXPECT_EQ(Ids(), (std::vector<std::string>{"Fits", "Zafter"}));
  const UninstallEntry& e = scanner.At(0);
  EXPECT_EQ(e.DisplayName, long_name);
  EXPECT_EQ(e.Publisher, "Acme");   // binary text up to its zero
  EXPECT_EQ(e.DisplayVersion, "");  // a number is no text
  EXPECT_EQ(e.Contact, "");         // does not fit the value buffer
}

TEST_F(UninstallScannerTest, ScansBothHklmViewsThenHkcuAndMergesByName) {
  PutProgram(RootKey::LocalMachine, "B64", "Native Tool",
             {{"DisplayVersion", S("1.0")}, {"Publisher", S("Tools Co")}});
  PutProgram(RootKey::LocalMachine, "A32", "Old Game",
             {{"DisplayVersion", S("2.5")},
              {"Publisher", S("Games Inc")},
              {"URLInfoAbout", S("http://games")}},
             RegView::View32);
  PutProgram(RootKey::LocalMachine, "C32", "Second 32", {}, RegView::View32);
  PutProgram(RootKey::CurrentUser, "A-user", "OLD GAME",
             {{"DisplayVersion", S("2.10")},
              {"Publisher", S("Games Ltd")},
              {"URLInfoAbout", S("http://other")}});
  PutProgram(RootKey::CurrentUser, "Native-user", "native tool",
             {{"DisplayVersion", S("0.9")}, {"Publisher", S("")}});
  PutProgram(RootKey::CurrentUser, "Mine", "Per-user App");

  ASSERT_TRUE(scanner.Scan());
  // 64-bit view first, then the 32-bit view (WOW6432Node), then HKCU.
  EXPECT_EQ(Ids(), (std::vector<std::string>{"B64", "A32", "C32", "Mine"}));
  const UninstallEntry& game = scanner.At(1);
  EXPECT_EQ(game.DisplayName, "Old Game");
  EXPECT_EQ(game.DisplayVersion, "2.10");  // higher, so taken
  EXPECT_EQ(game.Publisher, "Games Ltd");  // not empty, so taken
  EXPECT_EQ(game.URLInfoAbout, "http://games");
  EXPECT_EQ(game.AppFolder, "C:\\Program Files\\A32\\");
  const UninstallEntry& tool = scanner.At(0);
  EXPECT_EQ(tool.DisplayVersion, "1.0");  // lower version ignored
  EXPECT_EQ(tool.Publisher, "Tools Co");  // an empty one is not taken

  // A rescan starts from scratch.
  m.registry.DeleteTree(RootKey::CurrentUser, std::string(kUninstallKeyPath) + "\\Mine");
  m.registry.DeleteTree(RootKey::LocalMachine, kUninstallKeyPath, RegView::View32);
  ASSERT_TRUE(scanner.Scan());
  EXPECT_EQ(Ids(), (std::vector<std::string>{"B64", "A-user"}));
  m.registry.DeleteTree(RootKey::LocalMachine, kUninstallKeyPath, RegView::View64);
  m.registry.DeleteTree(RootKey::CurrentUser, kUninstallKeyPath);
  EXPECT_FALSE(scanner.Scan());
  EXPECT_EQ(scanner.Count(), 0u);
}

// The fake has no 8.3 names, but its long form gives a path's spelling on
// disk: a "~" in the text is what asks for that form.
TEST_F(UninstallScannerTest, InstallLocationLosesItsQuotesAndShortNames) {
  m.files.AddFolder("C:\\Program Files\\Long~App");
  PutProgram(RootKey::LocalMachine, "Quoted", "Quoted",
             {{"InstallLocation", S("\"C:\\Program Files\\Quoted App\"")}});
  PutProgram(RootKey::LocalMachine, "Short", "Short",
             {{"InstallLocation", S("\"c:\\program files\\LONG~APP\"")}});
  PutProgram(RootKey::LocalMachine, "Slash", "Slash",
             {{"InstallLocation", S("c:\\program files\\slash\\")}});
  PutProgram(RootKey::LocalMachine, "Missing", "Missing",
             {{"InstallLocation", S("D:\\Not There")}});
  PutProgram(RootKey::LocalMachine, "Quote", "Lone quote", {{"InstallLocation", S("\"")}});
  ASSERT_TRUE(scanner.Scan());

  EXPECT_EQ(Only("Quoted").InstallLocation, "C:\\Program Files\\Quoted App");
  EXPECT_EQ(Only("Quoted").AppFolder, "C:\\Program Files\\Quoted App\\");
  EXPECT_EQ(Only("Short").InstallLocation, "C:\\Program Files\\Long~App");
  EXPECT_EQ(Only("Short").AppFolder, "C:\\Program Files\\Long~App\\");
  // Without "~" the text stays as stored, letter case included.
  EXPECT_EQ(Only("Slash").AppFolder, "c:\\program files\\slash\\");
  // A stated location is taken as it is, existing or not.
  EXPECT_EQ(Only("Missing").AppFolder, "D:\\Not There\\");
  EXPECT_EQ(Only("Quote").InstallLocation, "");
  EXPECT_EQ(Only("Quote").AppFolder, "C:\\Program Files\\Quote\\");  // from the uninstaller
}

TEST_F(UninstallScannerTest, AppFolderFromTheUninstallerNeedsAVisibleFolderOutsideWindows) {
  m.files.AddFile("C:\\Windows\\IsUninst.exe", "MZ");
  m.files.AddFile("C:\\Windows\\system32\\msiexec.exe", "MZ");
  m.files.AddFile("C:\\Program Files\\Hidden App\\unins000.exe", "MZ");
  m.files.SetHidden("C:\\Program Files\\Hidden App", true);
  m.files.AddFile("C:\\Users\\user\\AppData\\Local\\Tool\\bin\\uninstall.exe", "MZ");
  m.files.SetHidden("C:\\Users\\user\\AppData", true);
  m.files.AddFile("C:\\Program Files\\Visible\\sub\\u.exe", "MZ");
  m.files.AddFolder("C:\\Program Files\\Long~App");
  const auto put = [&](const char* id, const char* command) {
    Put(RootKey::LocalMachine, id, {{"DisplayName", S(id)}, {"UninstallString", S(command)}});
  };
  put("Windows", "\"c:\\windows\\IsUninst.exe\" -f\"C:\\Program Files\\X\\Uninst.isu\"");
  put("Msi", "MsiExec.exe /X{12345678-ABCD-4321-ABCD-1234567890AB}");
  put("HiddenSelf", "C:\\Program Files\\Hidden App\\unins000.exe /SILENT");
  put("HiddenParent", "\"C:\\Users\\user\\AppData\\Local\\Tool\\bin\\uninstall.exe\"");
  put("NoFolder", "\"D:\\Gone\\uninstall.exe\"");
  put("Bare", "uninstall-me /quiet");
  put("Visible", "C:\\Program Files\\Visible\\sub\\u.exe /S");
  ASSERT_TRUE(scanner.Scan());

  EXPECT_EQ(Only("Windows").UninstallString.Path, "C:\\Windows\\IsUninst.exe");  // long form
  EXPECT_EQ(Only("Windows").AppFolder, "");
  EXPECT_EQ(Only("Msi").UninstallString.Path, "C:\\Windows\\system32\\MsiExec.exe");
  EXPECT_EQ(Only("Msi").UninstallString.Arguments, "/X{12345678-ABCD-4321-ABCD-1234567890AB}");
  EXPECT_EQ(Only("Msi").AppFolder, "");
  EXPECT_EQ(Only("HiddenSelf").UninstallString.Arguments, "/SILENT");
  EXPECT_EQ(Only("HiddenSelf").AppFolder, "");
  EXPECT_EQ(Only("HiddenParent").AppFolder, "");
  EXPECT_EQ(Only("NoFolder").AppFolder, "");
  EXPECT_EQ(Only("Bare").UninstallString.Path, "uninstall-me /quiet");  // found nowhere
  EXPECT_EQ(Only("Bare").AppFolder, "");
  EXPECT_EQ(Only("Visible").UninstallString.Path, "C:\\Program Files\\Visible\\sub\\u.exe");
  EXPECT_EQ(Only("Visible").AppFolder, "C:\\Program Files\\Visible\\sub\\");

  // The folder rule on its own: a "~" folder in its long form, trailing backslash kept.
  EXPECT_EQ(scanner.AppFolderFromUninstaller("c:\\program files\\long~app\\x.exe"),
            "C:\\Program Files\\Long~App\\");
  EXPECT_EQ(scanner.AppFolderFromUninstaller("c:\\windows\\IsUninst.exe"), "");
  // "C:\WindowsApps" is not inside "C:\Windows\".
  m.files.AddFolder("C:\\WindowsApps\\Tool");
  EXPECT_EQ(scanner.AppFolderFromUninstaller("C:\\WindowsApps\\Tool\\u.exe"),
            "C:\\WindowsApps\\Tool\\");
}

TEST_F(UninstallScannerTest, LookupsAndTheChangeTest) {
  PutProgram(RootKey::LocalMachine, "{ABC}", "First", {{"DisplayVersion", S("1.0")}});
  PutProgram(RootKey::LocalMachine, "{DEF}", "Second", {{"Publisher", S("P")}});
  ASSERT_TRUE(scanner.Scan());
  EXPECT_EQ(scanner.FindById("{ABC}"), 0);
  EXPECT_EQ(scanner.FindById("{DEF}"), 1);
  EXPECT_EQ(scanner.FindById("{abc}"), -1);  // exact, case-sensitive
  EXPECT_EQ(scanner.FindById(""), -1);
  EXPECT_EQ(scanner.At(1).Id, "{DEF}");
  EXPECT_THROW(scanner.At(2), std::out_of_range);

  UninstallScanner fresh(machine, folder);
  EXPECT_FALSE(fresh.SameAs(scanner));
  fresh.Scan();
  EXPECT_TRUE(fresh.SameAs(scanner));
  // Only Id, DisplayName and DisplayVersion count.
  Put(RootKey::LocalMachine, "{DEF}", {{"Publisher", S("Other")}, {"HelpLink", S("http://x")}});
  fresh.Scan();
  EXPECT_TRUE(fresh.SameAs(scanner));
  Put(RootKey::LocalMachine, "{ABC}", {{"DisplayVersion", S("1.0.1")}});
  fresh.Scan();
  EXPECT_FALSE(fresh.SameAs(scanner));
  Put(RootKey::LocalMachine, "{ABC}", {{"DisplayVersion", S("1.0")}, {"DisplayName", S("first")}});
  fresh.Scan();
  EXPECT_FALSE(fresh.SameAs(scanner));  // letter case counts here
}

TEST_F(UninstallScannerTest, CachedRecordsAreCheckedAndFilledOnLoad) {
  m.files.AddFile("C:\\Program Files\\Cached\\unins000.exe", "MZ");
  UninstallEntry nameless;
  nameless.Id = "nameless";
  UninstallEntry derive;
  derive.Id = "derive";
  derive.DisplayName = "Derived";
  derive.UninstallString.Path = "C:\\Program Files\\Cached\\unins000.exe";
  UninstallEntry kept = derive;
  kept.Id = "kept";
  kept.DisplayName = "derived";  // no merging on load
  kept.AppFolder = "E:\\Somewhere\\";
  SaveUninstallCache(folder, {nameless, derive, kept});

  UninstallScanner cached(machine, folder, UninstallScanner::Caching::InDataFolder);
  cached.LoadCache();
  ASSERT_EQ(cached.Count(), 2u);
  EXPECT_EQ(cached.At(0).Id, "derive");
  EXPECT_EQ(cached.At(0).AppFolder, "C:\\Program Files\\Cached\\");
  EXPECT_EQ(cached.At(1).AppFolder, "E:\\Somewhere\\");

  SaveUninstallCache(folder, {});
  cached.LoadCache();  // not empty: nothing read
  EXPECT_EQ(cached.Count(), 2u);
  cached.SaveCache();
  EXPECT_EQ(LoadUninstallCache(folder).size(), 2u);

  // A scanner made without caching neither reads nor writes the file.
  scanner.LoadCache();
  EXPECT_EQ(scanner.Count(), 0u);
  Put(RootKey::LocalMachine, "{NEW}", {{"DisplayName", S("New")}});
  scanner.Scan();
  scanner.SaveCache();
  EXPECT_EQ(LoadUninstallCache(folder).size(), 2u);
}

}  // namespace
}  // namespace kv::inventory
