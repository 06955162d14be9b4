#include <gtest/gtest.h>

#include "inventory/inventory.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

using platform::RegValue;
using platform::RootKey;
using platform::RegView;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class InventoryTest : public ::testing::Test {
 protected:
  // An executable with a version resource in the fake file system.
  void AddExe(const std::string& path, std::uint16_t major, std::uint16_t minor,
              const std::string& product_name, const std::string& product_version,
              const std::string& company = "") {
    platform::VersionSpec layout;
    layout.product[0] = major, layout.product[1] = minor, layout.product[2] = 0, layout.product[3] = 0;
    layout.tables = {{"040904b0",
                    {{"ProductName", product_name},
                     {"ProductVersion", product_version},
                     {"CompanyName", company}}}};
    const std::string block = platform::BuildVersionBlock(layout);
    m.files.AddFile(path, platform::BuildPeImage(&block));
  }
  void AddEntry(const std::string& id, const std::string& name, const std::string& version,
                const std::string& publisher, const std::string& icon = "",
                RootKey root = RootKey::LocalMachine) {
    const std::string key = kUninstall + id;
    const std::string uninst = "C:\\Program Files\\" + id + "\\uninst.exe";
    m.files.AddFile(uninst, "MZ");
    m.registry.Write(root, key, "DisplayName", RegValue::String(name));
    m.registry.Write(root, key, "UninstallString", RegValue::String("\"" + uninst + "\""));
    if (!version.empty()) m.registry.Write(root, key, "DisplayVersion", RegValue::String(version));
    if (!publisher.empty()) m.registry.Write(root, key, "Publisher", RegValue::String(publisher));
    if (!icon.empty()) m.registry.Write(root, key, "DisplayIcon", RegValue::String(icon));
  }
  const ProgramRecord* Find(const std::vector<ProgramRecord>& list, const std::string& name) {
    for (const auto& r : list)
      if (r.Name == name) return &r;
    return nullptr;
  }
  void Run() { inventory.Run(); }
  // The user's Start-menu programs folder on the fake machine.
  static std::string ProgramsFolder() {
    return "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
  }

  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  app::ProgressRange range;
  app::ProgressTracker progress{range};
  Inventory inventory{m.machine, folder, progress};
};

TEST_F(InventoryTest, DisplayNameLosesItsVersionAndRemoveOnly) {
  AddEntry("AcmeReader", "Acme Reader 8.1 (remove only)", "8.1.2", "Acme");
  Run();
  const ProgramRecord* r = Find(inventory.Programs(), "Acme Reader");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(FormatVersion(r->Version), "8.1.2");
  EXPECT_EQ(r->ReleaseStatus, "Release");
  EXPECT_EQ(r->Entry->Id, "AcmeReader");
  EXPECT_EQ(r->Shortcut, nullptr);
  EXPECT_DOUBLE_EQ(range.current(), 100.0);
}

TEST_F(InventoryTest, VersionsReconcileWithTheEntryUnlessItLooksLikeAYear) {
  AddExe("C:\\Apps\\four.exe", 5, 2, "Four", "5.2");
  AddEntry("Four", "Four", "4.0", "A", "C:\\Apps\\four.exe");
  AddExe("C:\\Apps\\five.exe", 2007, 1, "Five", "2007.1");
  AddEntry("Five", "Five", "5.0", "A", "C:\\Apps\\five.exe");
  AddExe("C:\\Apps\\year.exe", 9, 0, "Year", "9.0");
  AddEntry("Year", "Year", "2008", "A", "C:\\Apps\\year.exe");
  AddExe("C:\\Apps\\newer.exe", 3, 5, "Newer", "3.5");
  AddEntry("Newer", "Newer", "3.1", "A", "C:\\Apps\\newer.exe");
  Run();
  EXPECT_EQ(FormatVersion(Find(inventory.Programs(), "Four")->Version), "4.0");
  EXPECT_EQ(FormatVersion(Find(inventory.Programs(), "Five")->Version), "5.0");
  EXPECT_EQ(FormatVersion(Find(inventory.Programs(), "Year")->Version), "2008");
  EXPECT_EQ(FormatVersion(Find(inventory.Programs(), "Newer")->Version), "3.5");  // same major: the larger
}

TEST_F(InventoryTest, IconWithAnIndexIsNotReadAsAnExecutable) {
  AddExe("C:\\Apps\\icon.exe", 7, 0, "Icon Tool", "7.0");
  AddEntry("IconTool", "Icon Tool", "", "A", "C:\\Apps\\icon.exe,0");
  Run();
  const ProgramRecord* r = Find(inventory.Programs(), "Icon Tool");
  ASSERT_NE(r, nullptr);
  EXPECT_FALSE(r->Version.IsPresent());
  EXPECT_FALSE(r->HasProgramInfo());
}

TEST_F(InventoryTest, PlatformUpdatesWithoutShortcutsAreIgnored) {
  AddEntry("KB1", "Security Update for Windows (KB1)", "1", "Microsoft Corporation");
  AddEntry("KB2", "Hotfix for Windows (KB2)", "1", "Microsoft Corp.");
  AddEntry("NoPub", "Nameless Helper", "1.0", "");
  Run();
  ASSERT_EQ(inventory.IgnoredPrograms().size(), 2u);
  EXPECT_EQ(inventory.IgnoredPrograms()[0].Entry->Id, "KB1");
  EXPECT_EQ(inventory.IgnoredPrograms()[1].Entry->Id, "NoPub");
  bool kb2 = false;
  for (const auto& r : inventory.Programs()) kb2 = kb2 || (r.Entry && r.Entry->Id == "KB2");
  EXPECT_TRUE(kb2);
}

TEST_F(InventoryTest, CleanNamesEqualButForCaseLeaveTheFirstRecord) {
  AddEntry("A", "Foo Tool 1.0", "1.0", "X");
  AddEntry("B", "foo tool 2.0", "2.0", "Y");
  Run();
  int count = 0;
  for (const auto& r : inventory.Programs()) count += text::EqualsNoCase(r.Name, "Foo Tool");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Find(inventory.Programs(), "Foo Tool")->Entry->Id, "A");
}

TEST_F(InventoryTest, FixedProgramsComeFirstAndWinOverEntriesOfTheSameName) {
  AddExe(m.shell.ExecutablePath(), 1, 2, "Korvan", "1.2 BETA");
  AddExe("C:\\Program Files\\Internet Explorer\\iexplore.exe", 11, 0, "Internet Explorer", "11.0");
  AddEntry("Korvan", "Korvan", "0.9", "Tavrin");
  Run();
  ASSERT_GE(inventory.Programs().size(), 2u);
  const ProgramRecord& own = inventory.Programs()[0];
  EXPECT_EQ(own.Name, "Korvan");
  EXPECT_EQ(own.ReleaseStatus, "Beta");
  EXPECT_EQ(FormatVersion(own.Version), "1.2");
  EXPECT_EQ(own.Entry, nullptr);
  EXPECT_EQ(own.cmdline.Path, m.shell.ExecutablePath());
  EXPECT_EQ(inventory.Programs()[1].Name, "Internet Explorer");
  EXPECT_EQ(inventory.Programs()[1].Publisher, "Microsoft Corporation");
  int korvans = 0;
  for (const auto& r : inventory.Programs()) korvans += r.Name == "Korvan";
  EXPECT_EQ(korvans, 1);
}

TEST_F(InventoryTest, UnreadableOwnExecutableStillGivesThePlatformPrograms) {
  AddExe("C:\\Program Files\\Windows Media Player\\wmplayer.exe", 12, 0, "Windows Media Player", "12.0");
  Run();  // the fake korvapp.exe holds no version resource
  ASSERT_EQ(inventory.Programs().size(), 1u);
  EXPECT_EQ(inventory.Programs()[0].Name, "Windows Media Player");
}

TEST_F(InventoryTest, MatchedShortcutGivesNameShortNameAndCommand) {
  m.files.AddFile("C:\\Program Files\\Acme\\reader.exe", "MZ");
  m.shell.AddShortcut(
      "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Foo Reader.lnk",
      "C:\\Program Files\\Acme\\reader.exe", "-open");
  AddEntry("AcmeFoo", "Acme Foo Reader 2.0", "2.0", "Acme");
  Run();
  const ProgramRecord* r = Find(inventory.Programs(), "Acme Foo Reader");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->ShortName, "Foo Reader");
  EXPECT_EQ(r->cmdline.Path, "C:\\Program Files\\Acme\\reader.exe");
  EXPECT_EQ(r->cmdline.Arguments, "-open");
  ASSERT_NE(r->Shortcut, nullptr);
  EXPECT_EQ(r->Shortcut->Name, "Foo Reader");
}

TEST_F(InventoryTest, ARunFromTheShortcutsCacheGivesTheSameVersionAndStatus) {
  // The fixed product version (12.0.3) orders above the string ("12.0b3");
  // the cache keeps only the string.
  kv::platform::VersionSpec layout;
  layout.product[0] = 12, layout.product[1] = 0, layout.product[2] = 3, layout.product[3] = 0;
  layout.tables = {{"040904b0",
                    {{"ProductName", "Zephyr Browser"},
                     {"ProductVersion", "12.0b3"},
                     {"FileVersion", "12.0 beta"}}}};
  const std::string block = kv::platform::BuildVersionBlock(layout);
  m.files.AddFile("C:\\Program Files\\Zephyr\\zephyr.exe", kv::platform::BuildPeImage(&block));
  m.shell.AddShortcut("C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\"
                      "Zephyr Browser.lnk",
                      "C:\\Program Files\\Zephyr\\zephyr.exe");
  AddEntry("Zephyr", "Zephyr Browser", "", "Zephyr Project");
  Run();
  ASSERT_NE(Find(inventory.Programs(), "Zephyr Browser"), nullptr);
  EXPECT_EQ(FormatVersion(Find(inventory.Programs(), "Zephyr Browser")->Version), "12.0.3");
  EXPECT_EQ(Find(inventory.Programs(), "Zephyr Browser")->ReleaseStatus, "Beta");

  Inventory next_process(m.machine, folder, progress);  // starts from shtree.xml
  next_process.Run();
  const ProgramRecord* r = Find(next_process.Programs(), "Zephyr Browser");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(FormatVersion(r->Version), "12.0.3");
  EXPECT_EQ(r->ReleaseStatus, "Beta");  // from FileVersion, which the cache does not keep
}

TEST_F(InventoryTest, ShortcutWhoseTargetIsGoneIsDropped) {
  m.shell.AddShortcut("C:\\Users\\user\\Desktop\\Gone Tool.lnk", "C:\\Program Files\\Gone\\gone.exe");
  AddEntry("Gone", "Gone Tool", "1.0", "Microsoft");
  Run();
  // Without its shortcut the platform maker's entry has no command: ignored.
  ASSERT_EQ(inventory.IgnoredPrograms().size(), 1u);
  EXPECT_EQ(inventory.IgnoredPrograms()[0].Shortcut, nullptr);
}

TEST_F(InventoryTest, AYearLikeEntryVersionNeverOverridesTheProgramsOwnVersion) {
  // A build stamped with its date: the entry's year says less than the binary.
  AddExe("C:\\Apps\\chronicle.exe", 0, 0, "Chronicle", "20120515.1");
  AddEntry("Chronicle", "Chronicle", "2012", "A", "C:\\Apps\\chronicle.exe");
  // The other way round the entry still wins (its major differs, and is no year).
  AddExe("C:\\Apps\\ledger.exe", 2011, 0, "Ledger", "2011.0");
  AddEntry("Ledger", "Ledger", "3.0", "A", "C:\\Apps\\ledger.exe");
  Run();
  EXPECT_EQ(FormatVersion(Find(inventory.Programs(), "Chronicle")->Version), "20120515.1");
  EXPECT_EQ(FormatVersion(Find(inventory.Programs(), "Ledger")->Version), "3.0");
}

TEST_F(InventoryTest, VersionsFoundInTheDisplayName) {
  // Larger than DisplayVersion, same major: the name's version is taken.
  AddEntry("Delta", "Delta Sync 2.5.1", "2.0", "A");
  // Without DisplayVersion the entry's own version comes from its name, and
  // wins over a binary whose major differs.
  AddExe("C:\\Apps\\foo.exe", 9, 0, "Foo Mapper", "9.0");
  AddEntry("Foo", "Foo Mapper 3.1", "", "A", "C:\\Apps\\foo.exe");
  Run();
  const ProgramRecord* delta = Find(inventory.Programs(), "Delta Sync");
  ASSERT_NE(delta, nullptr);
  EXPECT_EQ(FormatVersion(delta->Version), "2.5.1");
  const ProgramRecord* foo = Find(inventory.Programs(), "Foo Mapper");
  ASSERT_NE(foo, nullptr);
  EXPECT_EQ(FormatVersion(foo->Version), "3.1");
}

TEST_F(InventoryTest, NameAndShortNameFromTheProductName) {
  AddExe("C:\\Apps\\reader.exe", 2, 0, "Foo Reader", "2.0");
  AddEntry("AcmeFoo", "Acme Foo Reader 2.0", "2.0", "Acme", "C:\\Apps\\reader.exe");
  // Not found in the display name as written: the product's spelling.
  AddExe("C:\\Apps\\tool.exe", 1, 0, "Bar Tool", "1.0");
  AddEntry("Bar", "BAR TOOL", "1.0", "Bar", "C:\\Apps\\tool.exe");
  // Too unlike the display name: the display name stays.
  AddExe("C:\\Apps\\other.exe", 1, 0, "Something Else", "1.0");
  AddEntry("Baz", "Baz Viewer", "1.0", "Baz", "C:\\Apps\\other.exe");
  Run();
  const ProgramRecord* foo = Find(inventory.Programs(), "Acme Foo Reader");
  ASSERT_NE(foo, nullptr);
  EXPECT_EQ(foo->ShortName, "Foo Reader");
  const ProgramRecord* bar = Find(inventory.Programs(), "Bar Tool");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->ShortName, "");
  EXPECT_EQ(bar->Entry->Id, "Bar");
  const ProgramRecord* baz = Find(inventory.Programs(), "Baz Viewer");
  ASSERT_NE(baz, nullptr);
  EXPECT_EQ(baz->ShortName, "");
}

TEST_F(InventoryTest, UninstallWordsLeaveANameFromTheDisplayName) {
  AddEntry("Blue", "Uninstall Blue Tool 1.2", "1.2", "A");
  AddEntry("Red", "Red Tool uninstall", "", "A");
  Run();
  EXPECT_NE(Find(inventory.Programs(), "Blue Tool"), nullptr);
  EXPECT_NE(Find(inventory.Programs(), "Red Tool"), nullptr);
}

TEST_F(InventoryTest, AJavaLauncherWithArgumentsSaysNothingAboutTheProgram) {
  const std::string javaw = "C:\\Program Files\\Java\\jre8\\bin\\javaw.exe";
  AddExe(javaw, 8, 0, "Java(TM) Platform SE 8", "8.0.3510.10", "Oracle Corporation");
  m.files.AddFile("C:\\Program Files\\Starchart\\starchart.jar", "PK");
  m.shell.AddShortcut(ProgramsFolder() + "Starchart.lnk", javaw,
                      "-jar \"C:\\Program Files\\Starchart\\starchart.jar\"");
  // Without a publisher of its own nothing vetoes the runtime's shortcut.
  AddEntry("Starchart", "Starchart", "", "");
  // Its icon's executable describes it instead; the runtime's company is
  // still not the program's publisher.
  AddExe("C:\\Program Files\\Orrery\\orrery.exe", 3, 2, "Orrery", "3.2", "Orrery Makers");
  m.shell.AddShortcut(ProgramsFolder() + "Orrery.lnk", javaw, "-jar orrery.jar");
  AddEntry("Orrery", "Orrery", "", "", "C:\\Program Files\\Orrery\\orrery.exe");
  Run();
  const ProgramRecord* star = Find(inventory.Programs(), "Starchart");
  ASSERT_NE(star, nullptr);
  ASSERT_NE(star->Shortcut, nullptr);
  EXPECT_EQ(star->cmdline.Path, javaw);
  EXPECT_FALSE(star->Version.IsPresent());
  EXPECT_EQ(star->Publisher, "");
  const ProgramRecord* orrery = Find(inventory.Programs(), "Orrery");
  ASSERT_NE(orrery, nullptr);
  ASSERT_NE(orrery->Shortcut, nullptr);
  EXPECT_EQ(FormatVersion(orrery->Version), "3.2");
  EXPECT_EQ(orrery->Publisher, "");
}

TEST_F(InventoryTest, TheJavaRuntimeItselfKeepsItsVersionResource) {
  const std::string javaw = "C:\\Program Files\\Java\\jre8\\bin\\javaw.exe";
  AddExe(javaw, 8, 0, "Java Console", "8.0.3510.10", "Oracle Corporation");
  m.shell.AddShortcut(ProgramsFolder() + "Java Console.lnk", javaw);
  AddEntry("JavaConsole", "Java Console", "", "");
  Run();
  const ProgramRecord* r = Find(inventory.Programs(), "Java Console");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(FormatVersion(r->Version), "8.0.3510.10");
  EXPECT_EQ(r->Publisher, "Oracle Corporation");
}

// A program updated in place (new executable, same shortcut, same entry) and
// living beside a file whose name is a prefix of its own: a running client,
// a new process starting from the caches and one without caches must give
// the same record.
TEST_F(InventoryTest, ARunningANewAndAFreshProcessAgreeAfterAnInPlaceUpdate) {
  const std::string exe = "C:\\Tools\\Game Launcher.exe";
  AddExe(exe, 1, 0, "Game Launcher", "1.0 beta", "Lumen");
  m.files.AddFile("C:\\Tools\\Game.exe", "MZ");
  m.shell.AddShortcut(ProgramsFolder() + "Game Launcher.lnk", exe);
  AddEntry("GameLauncher", "Game Launcher", "", "Lumen");
  Run();
  const ProgramRecord* before = Find(inventory.Programs(), "Game Launcher");
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(FormatVersion(before->Version), "1.0 beta");
  EXPECT_EQ(before->ReleaseStatus, "Beta");

  m.clock.Advance(600'000'000);  // a minute later
  AddExe(exe, 2, 0, "Game Launcher", "2.0", "Lumen");
  struct Seen {
    std::string version, status, path, shortcut;
    bool operator==(const Seen&) const = default;
  };
  auto seen = [&](const Inventory& inv) {
    const ProgramRecord* r = Find(inv.Programs(), "Game Launcher");
    if (!r) return Seen{"no record", "", "", ""};
    return Seen{FormatVersion(r->Version), r->ReleaseStatus, r->cmdline.Path,
                r->Shortcut ? r->Shortcut->Name : "no shortcut"};
  };
  const Seen expected{"2.0", "Release", exe, "Game Launcher"};

  Run();  // the running client scans again
  EXPECT_EQ(seen(inventory), expected) << "running";

  Inventory new_process(m.machine, folder, progress);
  new_process.Run();  // starts from shtree.xml
  EXPECT_EQ(seen(new_process), expected) << "from the cache";

  const std::string cache = folder.GetDataFilePath("shtree.xml");
  m.files.Delete(cache);
  m.files.Delete(cache + ".bak");
  Inventory fresh(m.machine, folder, progress);
  fresh.Run();
  EXPECT_EQ(seen(fresh), expected) << "without caches";
}

}  // namespace
}  // namespace kv::inventory
