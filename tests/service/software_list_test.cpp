#include "service/software_list_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/activity_log.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "service/software_list_file.h"
#include "store/xml_store.h"

namespace kv::service {
namespace {

using inventory::FormatVersion;
using platform::ErrorKind;
using platform::FileOp;
using platform::RegValue;
using platform::RootKey;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr platform::FileTime kStart = 133800000000000000ull;

class SoftwareListTest : public ::testing::Test {
 protected:
  SoftwareListTest() { m.clock.Set(kStart); }

  // An installed program: an uninstall entry whose icon names its executable.
  void Install(const std::string& id, const std::string& name, const std::string& version,
               const std::string& publisher = "Acme") {
    const std::string key = kUninstall + id;
    const std::string dir = "C:\\Program Files\\" + id + "\\";
    m.files.AddFile(dir + "uninst.exe", "MZ");
    m.files.AddFile(dir + id + ".exe", "MZ");
    m.registry.Write(RootKey::LocalMachine, key, "DisplayName", RegValue::String(name));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayVersion", RegValue::String(version));
    m.registry.Write(RootKey::LocalMachine, key, "Publisher", RegValue::String(publisher));
    m.registry.Write(RootKey::LocalMachine, key, "UninstallString",
                     RegValue::String("\"" + dir + "uninst.exe\""));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayIcon",
                     RegValue::String(dir + id + ".exe"));
    const std::string programs = *m.shell.GetFolder(platform::SpecialFolder::Programs);
    if (!m.files.Exists(programs + "\\" + name + "\\" + name + ".lnk"))
      m.shell.AddShortcut(programs + "\\" + name + "\\" + name + ".lnk", dir + id + ".exe");
  }
  void Uninstall(const std::string& id) {
    m.registry.DeleteTree(RootKey::LocalMachine, kUninstall + id);
  }
  std::string FilePath() { return folder.GetDataFilePath(kSoftwareListFile); }
  std::string FileText() { return m.files.ReadAll(FilePath()).value_or(""); }
  SoftwarePtr Program(SoftwareListStore& s, const std::string& local_id) {
    const int i = s.FindByLocalId(local_id);
    return i < 0 ? nullptr : s.At(static_cast<std::size_t>(i));
  }
  std::vector<std::string> Names(SoftwareListStore& s) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.Count(); ++i) out.push_back(s.At(i)->Name);
    return out;
  }

  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  app::ProgressRange range;
  app::ProgressTracker progress{range};
  SoftwareListStore store{m.machine, folder, progress};
};

TEST_F(SoftwareListTest, FirstFillThenLaterAdditionsAreMarked) {
  Install("Zeta", "zeta tool", "2.0");
  Install("Alpha", "Aardvark Editor", "1.5");
  ASSERT_TRUE(store.Refresh());
  EXPECT_TRUE(store.last_changes().merged);
  EXPECT_EQ(Names(store), (std::vector<std::string>{"Aardvark Editor", "zeta tool"}));  // by name, any case
  SoftwarePtr alpha = Program(store, "alpha");  // LocalIds compare without regard to case
  ASSERT_TRUE(alpha);
  EXPECT_EQ(alpha->Flags, flag::kNotifyVersions);
  EXPECT_EQ(alpha->State, state::kVersionChanged);
  EXPECT_EQ(alpha->TimeEntryAdded, kStart);
  EXPECT_EQ(FormatVersion(alpha->VerInstalled), "1.5");
  EXPECT_EQ(FormatVersion(alpha->VerInstalledOfSoftwareExplorer), "1.5");
  EXPECT_TRUE(alpha->VerInstalledIsStableRelease);
  EXPECT_EQ(alpha->Publisher, "Acme");
  ASSERT_TRUE(alpha->rti.Entry);
  EXPECT_EQ(alpha->rti.Entry->DisplayName, "Aardvark Editor");
  EXPECT_EQ(store.FindByDisplayName("AARDVARK EDITOR"), 0);
  EXPECT_DOUBLE_EQ(range.current(), 100.0);

  m.clock.Advance(1000);
  Install("Mid", "Mid Player", "3.0 beta");
  ASSERT_TRUE(store.Refresh());
  EXPECT_EQ(store.last_changes().added, std::vector<std::string>{"Mid Player"});
  SoftwarePtr mid = Program(store, "Mid");
  EXPECT_EQ(mid->Flags, flag::kNotifyVersions | flag::kAddedLater);
  EXPECT_EQ(mid->TimeEntryAdded, kStart + 1000);
  EXPECT_FALSE(mid->VerInstalledIsStableRelease);
  EXPECT_EQ(Program(store, "Alpha")->Flags, flag::kNotifyVersions);  // old ones unchanged
}

TEST_F(SoftwareListTest, AnUnchangedMachineLeavesTheFileUntouched) {
  Install("One", "One", "1.0");
  Install("Two", "Two", "2.0");
  ASSERT_TRUE(store.Refresh());
  const std::string saved = FileText();
  ASSERT_FALSE(saved.empty());
  const auto written = m.files.GetInfo(FilePath())->last_write;

  m.clock.Advance(10'000'000);
  ASSERT_TRUE(store.Refresh());
  EXPECT_FALSE(store.last_changes().merged);
  EXPECT_EQ(m.files.GetInfo(FilePath())->last_write, written);

  // A new process: loads, finds nothing changed, writes nothing.
  SoftwareListStore again{m.machine, folder, progress};
  ASSERT_TRUE(again.Refresh());
  EXPECT_FALSE(again.last_changes().merged);
  EXPECT_EQ(again.Count(), 2u);
  EXPECT_EQ(FileText(), saved);
  EXPECT_EQ(m.files.GetInfo(FilePath())->last_write, written);

  // A merge that changes nothing (forced) writes nothing either, also with
  // removed programs, which keep their order.
  again.set_rescan_needed(true);
  ASSERT_TRUE(again.Refresh());
  EXPECT_TRUE(again.last_changes().merged);
  EXPECT_EQ(m.files.GetInfo(FilePath())->last_write, written);
  Install("Three", "Three", "3.0");
  Install("Four", "Four", "4.0");
  ASSERT_TRUE(again.Refresh());
  Uninstall("Three");
  Uninstall("Four");
  ASSERT_TRUE(again.Refresh());
  ASSERT_EQ(again.Removed().size(), 2u);
  const std::string with_removed = FileText();
  const auto rewritten = m.files.GetInfo(FilePath())->last_write;
  m.clock.Advance(10'000'000);
  for (int i = 0; i < 2; ++i) {
    again.set_rescan_needed(true);
    ASSERT_TRUE(again.Refresh());
  }
  EXPECT_EQ(FileText(), with_removed);
  EXPECT_EQ(m.files.GetInfo(FilePath())->last_write, rewritten);

  // An executable gone for good (a stale shortcut) is no change either.
  ASSERT_TRUE(m.files.Delete("C:\\Program Files\\One\\One.exe"));
  ASSERT_TRUE(again.Refresh());
  EXPECT_TRUE(again.last_changes().merged);  // the first time it is
  ASSERT_TRUE(again.Refresh());
  EXPECT_FALSE(again.last_changes().merged);
}

// The change test, the store's scan and the inventory's scan of one refresh
// share the subkey records, and the next process starts from their file.
TEST_F(SoftwareListTest, RefreshesReadOnlyTheSubkeysThatChanged) {
  constexpr platform::FileTime kMinute = 60ull * 10'000'000;
  // Past the fake machine's own folders: a time in the future is not trusted.
  m.clock.Set(platform::FromCalendar({2027, 1, 1, 0, 0, 0, 0}));
  Install("One", "One", "1.0");
  Install("Two", "Two", "2.0");
  Install("Three", "Three", "3.0");
  m.clock.Advance(kMinute);
  ASSERT_TRUE(store.Refresh());
  ASSERT_TRUE(store.last_changes().merged);
  EXPECT_EQ(store.key_cache().size(), 3u);
  EXPECT_EQ(store.key_cache().reused(), 3u);  // the inventory's scan came second

  ASSERT_TRUE(store.Refresh());
  EXPECT_FALSE(store.last_changes().merged);
  EXPECT_EQ(store.key_cache().read(), 0u);

  m.registry.Write(RootKey::LocalMachine, std::string(kUninstall) + "Two", "DisplayVersion",
                   RegValue::String("2.1"));
  m.clock.Advance(kMinute);
  ASSERT_TRUE(store.Refresh());
  ASSERT_TRUE(store.last_changes().merged);
  EXPECT_EQ(store.last_changes().updated, (std::vector<std::string>{"Two"}));
  EXPECT_EQ(store.key_cache().read(), 0u);  // read once, by the change test
  EXPECT_EQ(FormatVersion(Program(store, "Two")->VerInstalled), "2.1");

  SoftwareListStore again{m.machine, folder, progress};
  ASSERT_TRUE(again.Refresh());
  EXPECT_FALSE(again.last_changes().merged);
  EXPECT_EQ(again.key_cache().reused(), 3u);
  EXPECT_EQ(again.key_cache().read(), 0u);
}

TEST_F(SoftwareListTest, ATouchedExecutableForcesAMerge) {
  Install("One", "One", "1.0");
  ASSERT_TRUE(store.Refresh());
  SoftwarePtr one = Program(store, "One");
  ASSERT_EQ(one->rti.cmdline.Path, "C:\\Program Files\\One\\One.exe");
  EXPECT_NE(one->rti.ExeLastWriteTime, 0u);

  m.clock.Advance(5000);
  m.files.SetLastWrite("C:\\Program Files\\One\\One.exe", m.clock.NowUtc());
  ASSERT_TRUE(store.Refresh());
  EXPECT_TRUE(store.last_changes().merged);
  EXPECT_EQ(one->rti.ExeLastWriteTime, m.clock.NowUtc());

  // Gone: a merge too, in a new process as well.
  ASSERT_TRUE(m.files.Delete("C:\\Program Files\\One\\One.exe"));
  SoftwareListStore again{m.machine, folder, progress};
  again.Load();
  EXPECT_TRUE(again.rescan_needed());
}

TEST_F(SoftwareListTest, RemovalAndReinstallKeepTheServiceData) {
  Install("One", "One", "1.0");
  Install("Two", "Two", "2.0");
  ASSERT_TRUE(store.Refresh());
  SoftwarePtr one = Program(store, "One");
  one->GlobalId = "g1";
  one->nComments = 12;
  one->SetFlag(flag::kNotifyComments, true);

  Uninstall("One");
  ASSERT_TRUE(store.Refresh());
  EXPECT_EQ(store.last_changes().removed, std::vector<std::string>{"One"});
  EXPECT_EQ(store.Count(), 1u);
  ASSERT_EQ(store.Removed().size(), 1u);
  EXPECT_EQ(store.Removed()[0], one);  // the same object the caller holds
  EXPECT_FALSE(one->VerInstalled.IsPresent());
  EXPECT_FALSE(one->VerInstalledOfSoftwareExplorer.IsPresent());
  // Written after the installed programs.
  const std::string text = FileText();
  EXPECT_LT(text.find("<LocalId>Two</LocalId>"), text.find("<LocalId>One</LocalId>"));

  // A new process reads it back as removed.
  {
    SoftwareListStore again{m.machine, folder, progress};
    again.Load();
    EXPECT_EQ(again.Count(), 1u);
    ASSERT_EQ(again.Removed().size(), 1u);
    EXPECT_EQ(again.Removed()[0]->GlobalId, "g1");
  }

  Install("One", "One", "1.1");
  ASSERT_TRUE(store.Refresh());
  EXPECT_EQ(store.last_changes().reinstalled, std::vector<std::string>{"One"});
  EXPECT_TRUE(store.Removed().empty());
  EXPECT_EQ(Program(store, "One"), one);
  EXPECT_EQ(one->GlobalId, "g1");
  EXPECT_EQ(one->nComments, 12);
  EXPECT_EQ(one->Flags, flag::kNotifyVersions | flag::kNotifyComments);
  EXPECT_EQ(FormatVersion(one->VerInstalled), "1.1");
}

TEST_F(SoftwareListTest, ANewerInstalledVersionRaisesTheLatestOfItsKind) {
  Install("App", "App", "1.0");
  ASSERT_TRUE(store.Refresh());
  SoftwarePtr app = Program(store, "App");
  inventory::ParseVersion("1.2", app->VerLatestStable);
  inventory::ParseVersion("1.3 beta", app->VerLatestBeta);
  app->State = 0;

  Install("App", "App", "1.5");
  ASSERT_TRUE(store.Refresh());
  EXPECT_EQ(store.last_changes().updated, std::vector<std::string>{"App"});
  EXPECT_EQ(FormatVersion(app->VerLatestStable), "1.5");
  EXPECT_EQ(FormatVersion(app->VerLatestBeta), "1.3 beta");
  EXPECT_EQ(app->State, state::kVersionChanged);

  Install("App", "App", "2.0 beta");
  ASSERT_TRUE(store.Refresh());
  EXPECT_FALSE(app->VerInstalledIsStableRelease);
  EXPECT_EQ(FormatVersion(app->VerLatestStable), "1.5");
  EXPECT_EQ(FormatVersion(app->VerLatestBeta), "2.0 beta");

  // Only the numbers count: a new suffix alone is no change.
  app->State = 0;
  Install("App", "App", "2.0 Beta");
  ASSERT_TRUE(store.Refresh());
  EXPECT_TRUE(store.last_changes().updated.empty());
  EXPECT_EQ(app->State, 0u);
}

TEST(SoftwareListFile, TwoProgramsAreWrittenExactly) {
  auto a = std::make_shared<SoftwareInfo>();
  a->GlobalId = "17";
  a->LocalId = "{A-1}";
  a->Name = "Caf\xC3\xA9 & <Tools>";
  a->Publisher = "Acme \"Ltd\"";
  inventory::ParseVersion("1.05 beta", a->VerInstalled);
  a->VerInstalledIsStableRelease = false;
  inventory::ParseVersion("1.4", a->VerLatestStable);
  inventory::ParseVersion("1.05 beta", a->VerInstalledOfSoftwareExplorer);
  a->nComments = 3;
  a->TimeEntryAdded = 133800000000000001ull;
  a->Flags = 0x52;
  a->UserRating = 4;
  a->State = 0x48;
  a->rti.IconFile = "C:\\A\\a.exe,1";
  a->rti.cmdline = {"C:\\Program Files\\A\\a.exe", "-x"};
  a->rti.ExeFileSize = 1234;
  a->rti.ExeLastWriteTime = 5;
  a->rti.SoftName_old = "Tools";
  auto b = std::make_shared<SoftwareInfo>();
  b->LocalId = "/Gone";
  b->Name = "Gone";
  b->rti.cmdline = {"C:\\Program Files\\Gone\\gone app.exe", ""};
  SoftwareListContents contents{{a}, {b}, 7, 1, false};
  const std::string doc = SoftwareListDocument(contents);
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<KV>\r\n"
      " <SoftwareList>\r\n"
      "  <SoftwareInfo>\r\n"
      "   <GlobalId>17</GlobalId>\r\n"
      "   <LocalId>{A-1}</LocalId>\r\n"
      "   <Name>Caf\xC3\xA9 &amp; &lt;Tools></Name>\r\n"
      "   <Publisher>Acme &quot;Ltd&quot;</Publisher>\r\n"
      "   <PublisherUrl></PublisherUrl>\r\n"
      "   <VerInstalled>1.05 beta</VerInstalled>\r\n"
      "   <VerInstalledIsStableRelease>false</VerInstalledIsStableRelease>\r\n"
      "   <VerLatestStable>1.4</VerLatestStable>\r\n"
      "   <VerLatestBeta></VerLatestBeta>\r\n"
      "   <VerOnServer></VerOnServer>\r\n"
      "   <VerInstalledOfSoftwareExplorer>1.05 beta</VerInstalledOfSoftwareExplorer>\r\n"
      "   <ProgUrl></ProgUrl>\r\n"
      "   <nComments>3</nComments>\r\n"
      "   <CommentsUrl></CommentsUrl>\r\n"
      "   <nUsers>0</nUsers>\r\n"
      "   <UsersUrl></UsersUrl>\r\n"
      "   <nQuestionsPosted>0</nQuestionsPosted>\r\n"
      "   <QuestionsUrl></QuestionsUrl>\r\n"
      "   <TimeEntryAdded>133800000000000001</TimeEntryAdded>\r\n"
      "   <Flags>82</Flags>\r\n"
      "   <RatingsCount>0</RatingsCount>\r\n"
      "   <RatingsSum>0</RatingsSum>\r\n"
      "   <UserRating>4</UserRating>\r\n"
      "   <UserRatingOnServer>0</UserRatingOnServer>\r\n"
      "   <State>72</State>\r\n"
      "   <rti>\r\n"
      "    <IconFile>C:\\A\\a.exe,1</IconFile>\r\n"
      "    <IconFileIsUninstaller>false</IconFileIsUninstaller>\r\n"
      "    <cmdline>&quot;C:\\Program Files\\A\\a.exe&quot; -x</cmdline>\r\n"
      "    <ExeFileSize>1234</ExeFileSize>\r\n"
      "    <ExeLastWriteTime>5</ExeLastWriteTime>\r\n"
      "    <SoftName_old>Tools</SoftName_old>\r\n"
      "   </rti>\r\n"
      "  </SoftwareInfo>\r\n"
      "  <SoftwareInfo>\r\n"
      "   <GlobalId></GlobalId>\r\n"
      "   <LocalId>/Gone</LocalId>\r\n"
      "   <Name>Gone</Name>\r\n"
      "   <Publisher></Publisher>\r\n"
      "   <PublisherUrl></PublisherUrl>\r\n"
      "   <VerInstalled></VerInstalled>\r\n"
      "   <VerInstalledIsStableRelease>true</VerInstalledIsStableRelease>\r\n"
      "   <VerLatestStable></VerLatestStable>\r\n"
      "   <VerLatestBeta></VerLatestBeta>\r\n"
      "   <VerOnServer></VerOnServer>\r\n"
      "   <VerInstalledOfSoftwareExplorer></VerInstalledOfSoftwareExplorer>\r\n"
      "   <ProgUrl></ProgUrl>\r\n"
      "   <nComments>0</nComments>\r\n"
      "   <CommentsUrl></CommentsUrl>\r\n"
      "   <nUsers>0</nUsers>\r\n"
      "   <UsersUrl></UsersUrl>\r\n"
      "   <nQuestionsPosted>0</nQuestionsPosted>\r\n"
      "   <QuestionsUrl></QuestionsUrl>\r\n"
      "   <TimeEntryAdded>0</TimeEntryAdded>\r\n"
      "   <Flags>16</Flags>\r\n"
      "   <RatingsCount>0</RatingsCount>\r\n"
      "   <RatingsSum>0</RatingsSum>\r\n"
      "   <UserRating>0</UserRating>\r\n"
      "   <UserRatingOnServer>0</UserRatingOnServer>\r\n"
      "   <State>0</State>\r\n"
      "   <rti>\r\n"
      "    <IconFile></IconFile>\r\n"
      "    <IconFileIsUninstaller>false</IconFileIsUninstaller>\r\n"
      "    <cmdline>&quot;C:\\Program Files\\Gone\\gone app.exe&quot;</cmdline>\r\n"
      "    <ExeFileSize></ExeFileSize>\r\n"
      "    <ExeLastWriteTime>0</ExeLastWriteTime>\r\n"
      "   </rti>\r\n"
      "  </SoftwareInfo>\r\n"
      " </SoftwareList>\r\n"
      " <MgrState>\r\n"
      "  <cRegisteredAssociations>7</cRegisteredAssociations>\r\n"
      "  <State>1</State>\r\n"
      " </MgrState>\r\n"
      "</KV>\r\n";
  EXPECT_EQ(doc, expected);

  // It reads back to the same document.
  platform::FakeMachine m;
  m.files.AddFile("C:\\Program Files\\A\\a.exe", "MZ");
  // A shorter program beside the one saved: the quoted path keeps it apart.
  m.files.AddFile("C:\\Program Files\\Gone\\gone app.exe", "MZ");
  m.files.AddFile("C:\\Program Files\\Gone\\gone", "MZ");
  const auto parsed = store::XmlDocument::Parse(doc);
  ASSERT_TRUE(parsed);
  const SoftwareListContents back = ReadSoftwareList(*parsed, m.machine);
  EXPECT_FALSE(back.rescan_needed);
  EXPECT_EQ(SoftwareListDocument(back), doc);
}

TEST(SoftwareListFile, LoadingFallsBackWhereTheFileIsOdd) {
  platform::FakeMachine m;
  const auto parsed = store::XmlDocument::Parse(
      "<SoftwareList>"
      "<SoftwareInfo><LocalId>a</LocalId><userrating>7</userrating>"
      "<VerInstalled>1.0</VerInstalled><rti/></SoftwareInfo>"
      "<Program><LocalId>b</LocalId><UserRating>-1</UserRating>"
      "<VerInstalledOfSoftwareExplorer>2.0</VerInstalledOfSoftwareExplorer></Program>"
      "</SoftwareList>");
  ASSERT_TRUE(parsed);
  const SoftwareListContents c = ReadSoftwareList(*parsed, m.machine);
  ASSERT_EQ(c.installed.size(), 1u);
  ASSERT_EQ(c.removed.size(), 1u);
  EXPECT_EQ(c.installed[0]->UserRating, 0);
  EXPECT_EQ(c.installed[0]->Flags, flag::kDefault);
  EXPECT_EQ(c.removed[0]->UserRating, 0);
  EXPECT_FALSE(c.removed[0]->VerInstalledOfSoftwareExplorer.IsPresent());
  EXPECT_TRUE(c.rescan_needed);  // the second program has no "rti"
  EXPECT_EQ(c.manager_state, 0);  // no KV, so no MgrState

  const auto mgr = store::XmlDocument::Parse(
      "<KV><SoftwareList/><MgrState><cregisteredassociations>4</cregisteredassociations>"
      "</MgrState></KV>");
  const SoftwareListContents d = ReadSoftwareList(*mgr, m.machine);
  EXPECT_EQ(d.manager_state, 1);  // present without a State child
  EXPECT_EQ(d.registered_associations, 4);
  EXPECT_FALSE(d.rescan_needed);
}

// The user's lasting memory of their programs is never replaced by a list
// that could not be read.
TEST_F(SoftwareListTest, ABrokenOrUnreadableListIsNeverSilentlyReplaced) {
  Install("One", "One", "1.0");
  ASSERT_TRUE(store.Refresh());
  const std::string good = FileText();

  // Unreadable now: the refresh works on an empty list but may not save it.
  m.files.SetFaults([&](FileOp op, std::string_view path) -> std::optional<ErrorKind> {
    if (op == FileOp::Read && path.find("softList") != std::string_view::npos)
      return ErrorKind::SharingViolation;
    return std::nullopt;
  });
  {
    SoftwareListStore other{m.machine, folder, progress};
    other.Refresh();
    m.files.SetFaults(nullptr);
    EXPECT_FALSE(other.Save());
    EXPECT_EQ(FileText(), good);
  }

  // Broken: kept aside before a new list is started.
  m.files.AddFile(FilePath(), good.substr(0, good.size() / 2));
  app::ActivityLog log(m.machine);
  log.Open("C:\\log.txt", false, "");
  log.SetDisabled(false);
  folder.SetLog(&log);
  SoftwareListStore fresh{m.machine, folder, progress};
  ASSERT_TRUE(fresh.Refresh());
  EXPECT_EQ(m.files.ReadAll(FilePath() + ".broken"), good.substr(0, good.size() / 2));
  EXPECT_NE(log.Buffered().find("softList.xml is not a readable document"), std::string::npos);
  EXPECT_EQ(fresh.Count(), 1u);
  EXPECT_EQ(Program(fresh, "One")->Flags, flag::kDefault);  // a first fill again
}

TEST_F(SoftwareListTest, UserChangesFollowTheirRules) {
  Install("One", "One", "1.0");
  Install("Two", "Two", "2.0");
  ASSERT_TRUE(store.Refresh());
  SoftwarePtr one = store.At(0);

  // A notification choice clears its pending bit; others leave State alone.
  one->State = state::kNewComments | state::kNewQuestions | state::kFourthPending |
               state::kNewVersion | state::kIconWanted;
  store.SetFlag(0, flag::kNotifyComments, true);
  EXPECT_EQ(one->State & state::kNewComments, 0u);
  store.ToggleFlag(0, flag::kNotifyVersions);
  EXPECT_EQ(one->Flags & flag::kNotifyVersions, 0u);
  EXPECT_EQ(one->State & state::kNewVersion, 0u);
  store.SetFlag(0, flag::kNotifyQuestions, false);
  store.ToggleFlag(0, flag::kNotifyFourth);
  EXPECT_EQ(one->State, state::kIconWanted);
  store.SetFlag(0, flag::kNotifyAnswers, true);
  store.SetFlag(0, flag::kAddedLater, true);
  EXPECT_EQ(one->State, state::kIconWanted);
  EXPECT_EQ(store.FirstProgramNeedingIcon(), std::optional<std::size_t>(0));

  SoftwareInfo copy = *store.At(1);
  store.SetUserRating(copy, 5);
  EXPECT_EQ(store.At(1)->UserRating, 5);
  EXPECT_NE(FileText().find("<UserRating>5</UserRating>"), std::string::npos);  // saved

  inventory::ParseVersion("2.0", store.At(1)->VerOnServer);
  store.ClearServerVersions();
  EXPECT_FALSE(store.At(1)->VerOnServer.IsPresent());

  store.ConfirmNotificationCustomization();
  EXPECT_EQ(store.manager_state() & 1, 1);
  EXPECT_NE(FileText().find("<MgrState>\r\n  <cRegisteredAssociations>0</cRegisteredAssociations>"
                            "\r\n  <State>1</State>"),
            std::string::npos);

  store.MarkUninstalled(0);
  EXPECT_EQ(store.Count(), 1u);
  EXPECT_EQ(store.Removed().at(0), one);
  EXPECT_FALSE(one->VerInstalled.IsPresent());
  EXPECT_FALSE(store.FirstProgramNeedingIcon());
}

TEST_F(SoftwareListTest, InstalledProgramsGetIconsAndRemovedOnesLoseThem) {
  Install("One", "One", "1.0");
  Install("Two", "Two", "2.0");
  platform::IconGroupSpec small_only;
  small_only.sizes = {16};
  m.files.AddFile("C:\\Program Files\\One\\One.exe", platform::BuildPeImage(nullptr, {small_only}));
  ASSERT_TRUE(store.Refresh());
  SoftwarePtr one = Program(store, "One");
  ASSERT_TRUE(one->rti.SmallIcon);
  ASSERT_TRUE(one->rti.LargeIcon);  // scaled from the only image, as Windows does
  EXPECT_EQ(one->rti.LargeIcon->width(), 48);
  EXPECT_EQ(static_cast<const platform::FakeIcon&>(*one->rti.LargeIcon).image().width, 16);
  EXPECT_FALSE(Program(store, "Two")->rti.LargeIcon);  // its executable has no icon

  // A new process on the unchanged machine merges nothing and has the icons.
  {
    SoftwareListStore again{m.machine, folder, progress};
    ASSERT_TRUE(again.Refresh());
    EXPECT_FALSE(again.last_changes().merged);
    EXPECT_TRUE(Program(again, "One")->rti.LargeIcon);
  }

  Uninstall("One");
  ASSERT_TRUE(store.Refresh());
  EXPECT_FALSE(one->rti.LargeIcon);
  EXPECT_FALSE(one->rti.SmallIcon);
}

}  // namespace
}  // namespace kv::service
