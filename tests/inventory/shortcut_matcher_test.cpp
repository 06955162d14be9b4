#include "inventory/shortcut_matcher.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kv::inventory {
namespace {

UninstallEntry Entry(std::string name, std::string publisher = "", std::string location = "") {
  UninstallEntry e;
  e.DisplayName = std::move(name);
  e.Publisher = std::move(publisher);
  e.InstallLocation = std::move(location);
  return e;
}

// Trees built by hand: a root folder with folders and shortcuts below it.
class ShortcutMatcherTest : public ::testing::Test {
 protected:
  ShortcutMatcherTest() { root.IsFolder = true; }

  static ShortcutNode& Folder(ShortcutNode& parent, std::string name) {
    ShortcutNode& node = *parent.children.emplace_back(std::make_unique<ShortcutNode>());
    node.parent = &parent;
    node.Name = std::move(name);
    node.IsFolder = true;
    return node;
  }
  // A shortcut to its own executable unless a target is given.
  static ShortcutNode& Link(ShortcutNode& parent, std::string name, std::string path = "",
                            std::string args = "") {
    ShortcutNode& node = Folder(parent, name);
    node.IsFolder = false;
    node.LinksTo = {path.empty() ? "C:\\Program Files\\" + name + "\\run.exe" : path, args};
    return node;
  }
  static FileVersionInfo& Product(ShortcutNode& node, std::string product,
                                  std::string company = "", std::string description = "") {
    node.Binary = std::make_unique<FileVersionInfo>();
    node.Binary->ProductName = std::move(product);
    node.Binary->CompanyName = std::move(company);
    node.Binary->FileDescription = std::move(description);
    return *node.Binary;
  }
  const ShortcutNode* Match(const UninstallEntry& e) {
    ShortcutMatcher m(root);
    m.MatchEntry(e, false);
    score = m.last_score();
    return m.last_result();
  }

  ShortcutNode root;
  int score = 0;
};

TEST_F(ShortcutMatcherTest, DifferentNumbersOrVersionsNeverMatch) {
  ShortcutNode& other_year = Link(root, "Foo Player 2007");
  ShortcutNode& other_folder = Folder(root, "Foo Player 2007");
  Product(Link(other_folder, "Launch"), "Foo Player Launcher");
  EXPECT_EQ(Match(Entry("Foo Player 2003")), nullptr);
  EXPECT_EQ(Match(Entry("Foo Player 2007")), &other_year);

  ShortcutNode& plain = Link(root, "Foo Player");
  EXPECT_EQ(Match(Entry("Foo Player 2003")), &plain);
  // The number is also checked against the target's product name.
  Product(plain, "Foo Player 2007");
  EXPECT_EQ(Match(Entry("Foo Player 2003")), nullptr);

  // The largest number counts, not the first.
  ShortcutNode& suite = Link(root, "Bar 2008");
  EXPECT_EQ(Match(Entry("Bar 2 Suite 2008")), &suite);

  // Without numbers on both sides the versions' first components decide.
  ShortcutNode& three = Link(root, "Baz 3.1");
  EXPECT_EQ(Match(Entry("Baz 2.0")), nullptr);
  EXPECT_EQ(Match(Entry("Baz 3.0")), &three);
  EXPECT_EQ(Match(Entry("Baz 3")), &three);
}

TEST_F(ShortcutMatcherTest, FolderNamedLikeTheProgramVouchesForItsShortcuts) {
  // Likeness 13 to the entry through the product name alone: too little.
  ShortcutNode& desktop = Link(root, "Launch");
  Product(desktop, "Foo Launcher");
  EXPECT_EQ(Match(Entry("Foo Player")), nullptr);

  // Only a top-level folder vouches; one level deeper its name is not read.
  ShortcutNode& nested = Folder(Folder(root, "Acme"), "Foo Player");
  Product(Link(nested, "Launch"), "Foo Launcher");
  EXPECT_EQ(Match(Entry("Foo Player")), nullptr);

  ShortcutNode& folder = Folder(root, "Foo Player");
  ShortcutNode& launch = Link(folder, "Launch");
  Product(launch, "Foo Launcher");
  EXPECT_EQ(Match(Entry("Foo Player")), &launch);
  EXPECT_EQ(score, 100 + 13);  // the folder's likeness plus the shortcut's

  // A likeness that rounds to 0 (1 word of 6 in common) scores 0: not taken.
  Link(Folder(root, "Foo Player Red Green Blue Gray"), "Foo One Two Three Four Five");
  EXPECT_EQ(Match(Entry("Foo Player Red Green Blue Gray")), nullptr);
}

TEST_F(ShortcutMatcherTest, FolderLevelComparesOnlyChildrenThatFoundANode) {
  // The folder's own likeness (100) tops the real match (99) but finds
  // nothing inside: it must not replace the match with nothing.
  Link(Folder(root, "Foo Player"), "Uninstall Foo Player").Uninstaller = true;
  ShortcutNode& launcher = Link(root, "Launcher");
  Product(launcher, "Foo Player Launcher");
  EXPECT_EQ(Match(Entry("Foo Player")), &launcher);
  EXPECT_EQ(score, 99);

  // Equal positive scores: the shorter name wins, whichever comes first.
  root.children.clear();
  Link(root, "Foo Helper");
  ShortcutNode& tool = Link(root, "Foo Tool");
  Link(root, "Foo Bench");
  EXPECT_EQ(Match(Entry("Foo")), &tool);
  EXPECT_EQ(score, 198);
}

TEST_F(ShortcutMatcherTest, ToolbarEntriesNeedToolbarShortcuts) {
  ShortcutNode& foo = Link(root, "Foo");
  EXPECT_EQ(Match(Entry("Foo")), &foo);
  EXPECT_EQ(Match(Entry("Foo Toolbar")), nullptr);

  Product(foo, "Foo Toolbar");  // the product name may carry the word
  EXPECT_EQ(Match(Entry("Foo Toolbar")), &foo);

  root.children.clear();
  ShortcutNode& named = Link(root, "Foo toolbar Options");
  EXPECT_EQ(Match(Entry("Foo Toolbar")), &named);
}

TEST_F(ShortcutMatcherTest, InstallFolderRejectsOtherTargetsUnlessNamesAreEqual) {
  ShortcutNode& player = Link(root, "Foo Player", "D:\\Elsewhere\\foo.exe");
  const std::string location = "C:\\Program Files\\Foo";
  EXPECT_EQ(Match(Entry("Foo Player Deluxe", "", location)), nullptr);
  EXPECT_EQ(Match(Entry("Foo Player Deluxe")), &player);
  EXPECT_EQ(Match(Entry("Foo Player", "", location)), &player);  // likeness 100

  player.LinksTo.Path = "c:\\program files\\foo\\foo.exe";
  EXPECT_EQ(Match(Entry("Foo Player Deluxe", "", location)), &player);
}

TEST_F(ShortcutMatcherTest, UninstallerShortcutsAreNeverChosen) {
  Link(root, "Foo Player").Uninstaller = true;
  ShortcutNode& folder = Folder(root, "Foo Player");
  ShortcutNode& uninstall = Link(folder, "Uninstall Foo Player");
  uninstall.Uninstaller = true;
  Product(uninstall, "Foo Player");
  EXPECT_EQ(Match(Entry("Foo Player")), nullptr);
  EXPECT_EQ(Match(Entry("Uninstall Foo Player")), nullptr);

  ShortcutNode& run = Link(folder, "Foo Player");
  EXPECT_EQ(Match(Entry("Foo Player")), &run);
}

TEST_F(ShortcutMatcherTest, ProductScore) {
  // Another publisher's product vetoes a shortcut even with the exact name.
  ShortcutNode& shortcut = Link(root, "Foo Player");
  FileVersionInfo& info = Product(shortcut, "Media Suite", "Other Corp", "Media Player Suite");
  EXPECT_EQ(Match(Entry("Foo Player", "Acme Software")), nullptr);
  EXPECT_EQ(Match(Entry("Foo Player")), &shortcut);  // no publisher: no veto
  EXPECT_EQ(score, 200 + 13);
  info.CompanyName = "ACME Inc.";
  EXPECT_EQ(Match(Entry("Foo Player", "Acme Software")), &shortcut);

  // The company's first word completes the product name.
  root.children.clear();
  ShortcutNode& launcher = Link(root, "Launcher");
  Product(launcher, "Foo", "Acme Inc.");
  ShortcutMatcher m(root);  // one matcher: it must see the company change
  EXPECT_TRUE(m.MatchEntry(Entry("Acme Foo"), false));
  EXPECT_EQ(m.last_score(), 900);
  launcher.Binary->CompanyName = "Other";
  EXPECT_TRUE(m.MatchEntry(Entry("Acme Foo"), false));
  EXPECT_EQ(m.last_score(), 99);
}

TEST_F(ShortcutMatcherTest, ExactFileDescriptionReplacesTheProductName) {
  ShortcutNode& fp = Link(root, "FP");
  FileVersionInfo& info = Product(fp, "Foo Suite", "", "Foo Player");
  EXPECT_EQ(Match(Entry("Foo Player")), &fp);
  EXPECT_EQ(score, 900);
  EXPECT_EQ(info.ProductName, "Foo Player");

  // Likeness 99 raises the score but is not the same name.
  info.ProductName = "Foo Suite";
  info.FileDescription = "Foo Player Tool";
  EXPECT_EQ(Match(Entry("Foo Player")), &fp);
  EXPECT_EQ(score, 99);
  EXPECT_EQ(info.ProductName, "Foo Suite");
}

TEST_F(ShortcutMatcherTest, SpecialNames) {
  ShortcutNode& rar = Link(root, "Foo RAR Archiver");
  ShortcutMatcher m(root);
  EXPECT_FALSE(m.MatchEntry(Entry("FooRAR Archiver"), false));
  m.MatchAll({Entry("FooRAR Archiver")});
  EXPECT_EQ(m.Chosen(0), &rar);  // the split try follows a failed plain one

  // The same matcher sees nodes added since its last call.
  ShortcutNode& avira = Link(root, "Avira AntiVir Personal");
  EXPECT_TRUE(m.MatchEntry(Entry("avira antivir PersonalEdition Classic"), false));
  EXPECT_EQ(m.last_result(), &avira);
}

TEST_F(ShortcutMatcherTest, ConflictsGoToTheHigherScoreThenTheEarlierEntry) {
  ShortcutNode& player = Link(root, "Foo Player");    // "Foo": 198, "Foo Player": 300
  ShortcutNode& pack = Link(root, "Foo Utility Pack");  // "Foo": 196
  ShortcutMatcher m(root);
  m.MatchAll({Entry("Foo"), Entry("Foo Player")});
  ASSERT_EQ(m.rows().size(), 2u);
  EXPECT_EQ(m.Chosen(0), &pack);  // lost "Foo Player", matched again without it
  EXPECT_EQ(m.rows()[0].Lost, &player);
  EXPECT_EQ(m.rows()[0].Score, 198);
  EXPECT_EQ(m.Chosen(1), &player);
  EXPECT_EQ(m.rows()[1].Score, 300);

  // Equal scores: the earlier entry keeps it.
  m.MatchAll({Entry("Foo Player"), Entry("Foo Player (x64)"), Entry("Foo")});
  EXPECT_EQ(m.Chosen(0), &player);
  EXPECT_EQ(m.Chosen(1), nullptr);
  EXPECT_EQ(m.rows()[1].Lost, &player);
  // The third entry lost to the first; its second choice is held by nobody.
  EXPECT_EQ(m.Chosen(2), &pack);

  // The exclusion lasts only for the second pass.
  EXPECT_TRUE(m.MatchEntry(Entry("Foo Player"), false));
  EXPECT_EQ(m.last_result(), &player);

  // A shared year in the removed words outbids the earlier entry.
  root.children.clear();
  ShortcutNode& year = Link(root, "Foo Player 2007");
  m.MatchAll({Entry("Foo Player"), Entry("Foo Player 2007")});
  EXPECT_EQ(m.Chosen(0), nullptr);
  EXPECT_EQ(m.Chosen(1), &year);
  EXPECT_EQ(m.rows()[0].Score, 300);
  EXPECT_EQ(m.rows()[1].Score, 303);
}

TEST_F(ShortcutMatcherTest, ACopyWithTheSameTargetIsTheSameShortcut) {
  const std::string exe = "C:\\Program Files\\Foo\\foo.exe";
  Link(Folder(root, "Acme"), "Foo Player", exe, "-run");
  ShortcutNode& desktop = Link(root, "Foo Player", "c:\\program files\\FOO\\FOO.EXE", "-RUN");
  ShortcutNode& media = Link(root, "Foo Media", exe, "-run");
  ShortcutMatcher m(root);

  // First pass: another node with the same target is a conflict.
  m.MatchAll({Entry("Foo Player"), Entry("Foo Media")});
  EXPECT_EQ(m.Chosen(0), &desktop);
  EXPECT_EQ(m.Chosen(1), nullptr);  // equal scores; nothing else fits
  EXPECT_EQ(m.rows()[1].Lost, &media);

  // Second pass: the other copy of the winner's shortcut is refused, and
  // the row is left with neither.
  m.MatchAll({Entry("Foo Player"), Entry("Foo Player")});
  EXPECT_EQ(m.Chosen(0), &desktop);
  EXPECT_EQ(m.Chosen(1), nullptr);
  EXPECT_EQ(m.rows()[1].Lost, nullptr);

  // Unresolved shortcuts (no target) are not all one shortcut.
  desktop.LinksTo = {};
  media.LinksTo = {};
  m.MatchAll({Entry("Foo Player"), Entry("Foo Media")});
  EXPECT_EQ(m.Chosen(0), &desktop);
  EXPECT_EQ(m.Chosen(1), &media);
}

}  // namespace
}  // namespace kv::inventory
