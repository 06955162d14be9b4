#include "inventory/uninstall_cache.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_machine.h"

namespace kv::inventory {
namespace {



using platform::RegValue;
using platform::RootKey;

struct World {
  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  UninstallScanner scanner{m.machine, folder, UninstallScanner::Caching::InDataFolder};

  std::string Path(std::string_view name) { return folder.GetDataFilePath(name); }
  void Put(const std::string& id, std::string_view name, std::string_view value) {
    m.registry.Write(RootKey::LocalMachine, std::string(inventory::kUninstallKeyPath) + "\\" + id,
                     name, RegValue::String(std::string(value)));
  }
  std::vector<UninstallEntry> Reload() {
    UninstallScanner again(m.machine, folder, UninstallScanner::Caching::InDataFolder);
    again.LoadCache();
    return again.entries();
  }
};

UninstallEntry Sample() {
  return {.Id = "{1-2}",
          .DisplayName = "Tom & Jerry <\"Caf\xC3\xA9\">",
          .DisplayVersion = "1.2",
          .Publisher = "P",
          .InstallLocation = "C:\\A",
          .UninstallString = {"C:\\A\\u.exe", "/S"},
          .DisplayIcon = "i",
          .IconGroup = "never written",
          .Contact = "c",
          .HelpLink = "h",
          .InstallDate = "d",
          .InstallSource = "s",
          .URLInfoAbout = "a",
          .URLUpdateInfo = "u",
          .AppFolder = "C:\\A\\"};
}

TEST(UninstallCache, WritesTheFixedLayoutWithRecordsJoinedOnOneLine) {
  UninstallEntry second;
  second.Id = "B";
  second.DisplayName = "Bee";
  second.UninstallString.Path = "C:\\B\\b.exe";

  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<UninstallKey>\r\n"
      " <Record>\r\n"
      "  <Id>{1-2}</Id>\r\n"
      "  <DisplayName>Tom &amp; Jerry &lt;&quot;Caf\xC3\xA9&quot;></DisplayName>\r\n"
      "  <DisplayVersion>1.2</DisplayVersion>\r\n"
      "  <DisplayIcon>i</DisplayIcon>\r\n"
      "  <Contact>c</Contact>\r\n"
      "  <HelpLink>h</HelpLink>\r\n"
      "  <InstallDate>d</InstallDate>\r\n"
      "  <InstallLocation>C:\\A</InstallLocation>\r\n"
      "  <InstallSource>s</InstallSource>\r\n"
      "  <Publisher>P</Publisher>\r\n"
      "  <URLInfoAbout>a</URLInfoAbout>\r\n"
      "  <URLUpdateInfo>u</URLUpdateInfo>\r\n"
      "  <UninstallString>&quot;C:\\A\\u.exe&quot; /S</UninstallString>\r\n"
      "  <AppFolder>C:\\A\\</AppFolder>\r\n"
      " </Record> <Record>\r\n"
      "  <Id>B</Id>\r\n"
      "  <DisplayName>Bee</DisplayName>\r\n"
      "  <DisplayVersion></DisplayVersion>\r\n"
      "  <DisplayIcon></DisplayIcon>\r\n"
      "  <Contact></Contact>\r\n"
      "  <HelpLink></HelpLink>\r\n"
      "  <InstallDate></InstallDate>\r\n"
      "  <InstallLocation></InstallLocation>\r\n"
      "  <InstallSource></InstallSource>\r\n"
      "  <Publisher></Publisher>\r\n"
      "  <URLInfoAbout></URLInfoAbout>\r\n"
      "  <URLUpdateInfo></URLUpdateInfo>\r\n"
      "  <UninstallString>C:\\B\\b.exe</UninstallString>\r\n"
      "  <AppFolder></AppFolder>\r\n"
      " </Record></UninstallKey>\r\n";
  World w;
  SaveUninstallCache(w.folder, {Sample(), second});
  EXPECT_EQ(w.m.files.ReadAll(w.Path("ukey.xml")), expected);
  EXPECT_FALSE(w.m.files.Exists(w.Path("ukey.xml.bak")));
  EXPECT_EQ(UninstallCacheDocument({}),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<UninstallKey>\r\n</UninstallKey>\r\n");
}

TEST(UninstallCache, AScannedListSurvivesTheRoundTrip) {
  World w;
  w.m.files.AddFile("C:\\Program Files\\Foo App\\unins000.exe", "MZ");
  w.m.files.AddFile("C:\\Program Files\\Bar\\bar uninstall.exe", "MZ");
  w.Put("Foo_is1", "DisplayName", "Foo & <Friends>");
  w.Put("Foo_is1", "UninstallString", "\"C:\\Program Files\\Foo App\\unins000.exe\" /SILENT");
  w.Put("Foo_is1", "Publisher", "Caf\xC3\xA9 \xD0\x9F\xD1\x80\xD0\xBE");
  w.Put("Foo_is1", "InstallLocation", "C:\\Program Files\\Foo App");
  w.Put("Foo_is1", "Inno Setup: Icon Group", "Foo");
  w.Put("Bar", "DisplayName", "Bar");
  w.Put("Bar", "DisplayVersion", "3.0 beta");
  w.Put("Bar", "UninstallString", "\"C:\\Program Files\\Bar\\bar uninstall.exe\"");
  ASSERT_TRUE(w.scanner.Scan());
  w.scanner.SaveCache();

  std::vector<UninstallEntry> expected = w.scanner.entries();
  for (auto& e : expected) e.IconGroup.clear();  // not cached
  EXPECT_EQ(w.Reload(), expected);
  EXPECT_EQ(w.Reload()[0].AppFolder, "C:\\Program Files\\Bar\\");  // derived again on load
}

TEST(UninstallCache, APathWithBlanksComesBackWholeBesideAShorterExistingPrefix) {
  World w;
  w.m.files.AddFile("C:\\Tools\\Game Launcher.exe", "MZ");
  w.m.files.AddFile("C:\\Tools\\Game.exe", "MZ");
  w.Put("Game", "DisplayName", "Game Launcher");
  w.Put("Game", "UninstallString", "\"C:\\Tools\\Game Launcher.exe\"");
  w.Put("Plain", "DisplayName", "Plain");
  w.Put("Plain", "UninstallString", "C:\\Tools\\Game.exe");
  ASSERT_TRUE(w.scanner.Scan());
  ASSERT_EQ(w.scanner.At(0).UninstallString,
            (CommandLine{"C:\\Tools\\Game Launcher.exe", ""}));
  w.scanner.SaveCache();
  const std::string saved = w.m.files.ReadAll(w.Path("ukey.xml")).value_or("");
  // Quoted only where a blank needs it: other files stay as they were.
  EXPECT_NE(saved.find("<UninstallString>&quot;C:\\Tools\\Game Launcher.exe&quot;</"),
            std::string::npos);
  EXPECT_NE(saved.find("<UninstallString>C:\\Tools\\Game.exe</"), std::string::npos);
  std::vector<UninstallEntry> expected = w.scanner.entries();
  for (auto& e : expected) e.IconGroup.clear();
  EXPECT_EQ(w.Reload(), expected);

  // A file from before the quoting reads as well as the machine allows: whole
  // once the shorter prefix has gone.
  std::string old = saved;
  old.replace(old.find("&quot;C:\\Tools\\Game Launcher.exe&quot;"),
              std::string_view("&quot;C:\\Tools\\Game Launcher.exe&quot;").size(),
              "C:\\Tools\\Game Launcher.exe");
  w.m.files.WriteAll(w.Path("ukey.xml"), old);
  w.m.files.Delete("C:\\Tools\\Game.exe");
  EXPECT_EQ(w.Reload()[0].UninstallString,
            (CommandLine{"C:\\Tools\\Game Launcher.exe", ""}));
}

TEST(UninstallCache, LoadingFollowsTheStoreRules) {
  World w;
  w.m.files.AddFile("C:\\Program Files\\Kept\\u.exe", "MZ");
  w.m.files.WriteAll(
      w.Path("ukey.xml.bak"),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<UninstallKey>"
      "<Record><id>no-name</id><UninstallString>C:\\x.exe</UninstallString></Record>"
      "<Entry><ID>loc</ID><displayname> Spaced </displayname><Unknown>x</Unknown>"
      "<InstallLocation>D:\\Loc</InstallLocation></Entry>"
      "<Record><Id>derived</Id><DisplayName>Derived</DisplayName>"
      "<InstallLocation></InstallLocation><AppFolder></AppFolder>"
      "<UninstallString>\"c:\\program files\\kept\\u.exe\" /x</UninstallString></Record>"
      "<Record><Id>given</Id><DisplayName>derived</DisplayName>"
      "<InstallLocation>D:\\Loc</InstallLocation><AppFolder>E:\\App\\</AppFolder></Record>"
      "</UninstallKey>\r\n");
  const std::vector<UninstallEntry> got = w.Reload();  // from the .bak: no ukey.xml
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].Id, "loc");
  EXPECT_EQ(got[0].DisplayName, " Spaced ");  // as read
  EXPECT_EQ(got[0].AppFolder, "D:\\Loc");     // the location itself, no backslash added
  EXPECT_EQ(got[1].UninstallString.Path, "c:\\program files\\kept\\u.exe");  // no long form
  EXPECT_EQ(got[1].UninstallString.Arguments, "/x");
  EXPECT_EQ(got[1].AppFolder, "c:\\program files\\kept\\");
  EXPECT_EQ(got[2].DisplayName, "derived");  // no merging on load
  EXPECT_EQ(got[2].AppFolder, "E:\\App\\");

  // A present but broken file is kept aside and the .bak read instead; a
  // root in other letter case is not found.
  w.m.files.WriteAll(w.Path("ukey.xml"), "<?xml version=\"1.0\"?>\r\n<UninstallKey><Record>");
  EXPECT_EQ(w.Reload().size(), 3u);
  EXPECT_TRUE(w.m.files.Exists(w.Path("ukey.xml.broken")));
  w.m.files.WriteAll(w.Path("ukey.xml"),
                     "<uninstallkey><Record><Id>a</Id><DisplayName>A</DisplayName></Record>"
                     "</uninstallkey>");
  EXPECT_TRUE(w.Reload().empty());
}

TEST(UninstallCache, LoadCacheLeavesAFilledListAlone) {
  World w;
  SaveUninstallCache(w.folder, {Sample()});
  w.m.files.AddFile("C:\\P\\u.exe", "MZ");
  w.Put("Scanned", "DisplayName", "Scanned");
  w.Put("Scanned", "UninstallString", "C:\\P\\u.exe");
  ASSERT_TRUE(w.scanner.Scan());
  w.scanner.LoadCache();
  ASSERT_EQ(w.scanner.Count(), 1u);
  EXPECT_EQ(w.scanner.At(0).Id, "Scanned");
}

}  // namespace
}  // namespace kv::inventory
