#include "inventory/shortcuts_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

using platform::FileOp;
using platform::FileTime;
using platform::RegValue;
using platform::RootKey;
using platform::SpecialFolder;

const std::string kStartMenu =
    "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\";
const std::string kPrograms = kStartMenu + "Programs\\";
const std::string kCommonPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
const std::string kDesktop = "C:\\Users\\user\\Desktop\\";
const std::string kCommonDesktop = "C:\\Users\\Public\\Desktop\\";
const std::string kQuickLaunch =
    "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch\\";
const std::string kCache = "C:\\Users\\user\\AppData\\Roaming\\Korvan\\shtree.xml";
const std::string kNotepad = "C:\\Windows\\system32\\notepad.exe";
constexpr FileTime kT0 = 133'500'000'000'000'000ULL;

class RecordingRange final : public app::ProgressRange {
 public:
  bool changed() override {
    values.push_back(current());
    return true;
  }
  std::vector<double> values;
};

class ShortcutsTreeTest : public ::testing::Test {
 protected:
  ShortcutsTreeTest() {
    Exe(kNotepad, "Microsoft\xC2\xAE Windows\xC2\xAE Operating System");
    m.files.AddFile("C:\\Windows\\system32\\msiexec.exe", "MZ");
    // Opening a shortcut or a target's version resource reads its file.
    m.files.SetFaultHook([this](FileOp op, std::string_view path) {
      if (op == FileOp::Read && text::EndsWithNoCase(path, ".lnk")) ++link_reads;
      if (op == FileOp::Read && text::EndsWithNoCase(path, ".exe")) ++exe_reads;
      return false;
    });
  }

  // An executable with a real version resource; returns its size.
  std::size_t Exe(const std::string& path, const std::string& product,
                  const std::string& company = "Acme", const std::string& version = "5.2.0.1") {
    platform::VersionSpec layout;
    layout.tables = {{"040904b0",
                    {{"CompanyName", company},
                     {"FileDescription", product + " program"},
                     {"InternalName", "internal"},
                     {"LegalCopyright", "(c) Acme"},
                     {"OriginalFilename", "orig.exe"},
                     {"ProductName", product},
                     {"ProductVersion", version}}}};
    const std::string block = platform::BuildVersionBlock(layout);
    const std::string image = platform::BuildPeImage(&block);
    m.files.AddFile(path, image);
    return image.size();
  }
  void Link(const std::string& path, const std::string& target, const std::string& args = "",
            FileTime time = kT0) {
    m.shell.AddShortcut(path, target, args);
    m.files.SetLastWrite(path, time);
  }
  void Uninstall(const std::string& id, const std::string& command) {
    const std::string key = std::string(kUninstallKeyPath) + "\\" + id;
    m.registry.Write(RootKey::CurrentUser, key, "DisplayName", RegValue::String(id));
    m.registry.Write(RootKey::CurrentUser, key, "UninstallString", RegValue::String(command));
  }
  void Scan(ShortcutsTree& t) {
    uninstall.Scan();
    link_reads = exe_reads = 0;
    t.Scan(uninstall);
  }
  void Scan() { Scan(tree); }
  std::string Saved(ShortcutsTree& t) {
    t.SaveCache();
    return m.files.ReadAll(kCache).value_or("");
  }
  std::string Saved() { return Saved(tree); }

  // The node at "Folder\\Sub\\Name", or nullptr.
  static const ShortcutNode* Node(const ShortcutNode& from, std::string_view path) {
    const ShortcutNode* node = &from;
    for (std::size_t start = 0; node && start <= path.size();) {
      const std::size_t end = std::min(path.find('\\', start), path.size());
      const ShortcutNode* next = nullptr;
      for (const auto& child : node->children)
        if (child->Name == path.substr(start, end - start)) next = child.get();
      node = next;
      start = end + 1;
    }
    return node;
  }
  const ShortcutNode* Node(std::string_view path) const { return Node(tree.root(), path); }
  // "Folder{a,b},c": names in child order.
  static std::string Shape(const ShortcutNode& node) {
    std::string out;
    for (const auto& child : node.children) {
      out += (out.empty() ? "" : ",") + child->Name;
      if (child->IsFolder) out += "{" + Shape(*child) + "}";
    }
    return out;
  }
  std::string Shape() const { return Shape(tree.root()); }

  platform::FakeMachine m;
  int link_reads = 0, exe_reads = 0;
  app::DataFolder data{m.machine};
  RecordingRange range;
  app::ProgressTracker progress{range};
  UninstallScanner uninstall{m.machine, data};
  ShortcutsTree tree{m.machine, data, progress};
};

TEST_F(ShortcutsTreeTest, ShortcutsAreResolvedSizedAndDescribed) {
  const std::size_t size = Exe("C:\\Program Files\\Acme\\reader.exe", "Acme Reader");
  Exe("C:\\Program Files\\Acme\\paint.exe", "Acme Paint APPLICATION");
  Link(kPrograms + "Acme\\Reader.lnk", "C:\\Program Files\\Acme\\reader.exe", "/safe");
  Link(kPrograms + "Acme\\Paint.lnk", "C:\\Program Files\\Acme\\paint.exe");
  Link(kPrograms + "Acme\\Read me.lnk", "C:\\Program Files\\Acme\\readme.txt");
  Link(kPrograms + "Acme\\Gone.lnk", "C:\\Program Files\\Acme\\gone.exe");
  Link(kPrograms + "Notepad.lnk", kNotepad);
  m.files.AddFile(kPrograms + "Acme\\Broken.lnk", "not a shortcut");
  m.files.AddFile(kPrograms + "Acme\\notes.txt", "not listed");
  Scan();

  EXPECT_EQ(Shape(), "Notepad,Acme{Broken,Gone,Paint,Read me,Reader}");
  const ShortcutNode* reader = Node("Acme\\Reader");
  EXPECT_EQ(reader->parent, Node("Acme"));
  EXPECT_EQ(reader->LinksTo, (CommandLine{"C:\\Program Files\\Acme\\reader.exe", "/safe"}));
  EXPECT_EQ(reader->FileSize, size);
  EXPECT_EQ(reader->LastWriteTimes, std::vector<FileTime>{kT0});
  EXPECT_EQ(reader->Binary->ProductName, "Acme Reader");
  EXPECT_EQ(Node("Acme\\Paint")->Binary->ProductName, "Acme Paint");
  EXPECT_FALSE(Node("Notepad")->Binary) << "the target is part of Windows";
  // Not an executable, or missing: no size, no version information.
  for (const char* name : {"Acme\\Read me", "Acme\\Gone"}) {
    EXPECT_EQ(Node(name)->FileSize, 0u) << name;
    EXPECT_FALSE(Node(name)->Binary) << name;
  }
  EXPECT_TRUE(Node("Acme\\Broken")->LinksTo.IsEmpty());
}

TEST_F(ShortcutsTreeTest, NotepadIsLookedForInSystemAndANamelessOneMarksNothing) {
  m.files.Delete(kNotepad);
  platform::VersionSpec bare;  // a fixed block only: no product name
  bare.tables.clear();
  const std::string bare_block = platform::BuildVersionBlock(bare);
  m.files.AddFile("C:\\Program Files\\Bare\\bare.exe", platform::BuildPeImage(&bare_block));
  Exe("C:\\Program Files\\Win\\win.exe", "Windows");
  Link(kPrograms + "Bare.lnk", "C:\\Program Files\\Bare\\bare.exe");
  Link(kPrograms + "Win.lnk", "C:\\Program Files\\Win\\win.exe");
  Scan();
  EXPECT_TRUE(Node("Bare")->Binary);
  EXPECT_TRUE(Node("Win")->Binary);

  Exe("C:\\Windows\\system\\notepad.exe", "Windows");
  ShortcutsTree fresh{m.machine, data, progress};
  Scan(fresh);
  EXPECT_TRUE(Node(fresh.root(), "Bare")->Binary);
  EXPECT_FALSE(Node(fresh.root(), "Win")->Binary);
}

TEST_F(ShortcutsTreeTest, InstallersAndWindowsProgramsAreLeftOutAndUninstallersFlagged) {
  Uninstall("Acme", "\"C:\\Program Files\\Acme\\remove.exe\" /U");
  Exe("C:\\Program Files\\Acme\\remove.exe", "Acme Remover");
  m.files.AddFile("C:\\Program Files\\Acme\\unins000.exe", "MZ");
  m.files.AddFile("C:\\Program Files\\Internet Explorer\\iexplore.exe", "MZ");
  m.files.AddFile("C:\\Program Files (x86)\\Windows Media Player\\wmplayer.exe", "MZ");
  Link(kPrograms + "Acme\\Repair.lnk", "C:\\Windows\\system32\\msiexec.exe", "/f {GUID}");
  Link(kPrograms + "Acme\\Uninstall Acme.lnk", "C:\\Program Files\\Acme\\unins000.exe");
  Link(kPrograms + "Acme\\Remove.lnk", "c:\\program files\\acme\\REMOVE.exe", "/u");
  Link(kPrograms + "Browser.lnk", "C:\\PROGRAM FILES\\Internet Explorer\\IEXPLORE.EXE");
  Link(kPrograms + "Player.lnk", "C:\\Program Files (x86)\\Windows Media Player\\wmplayer.exe");
  Scan();

  EXPECT_EQ(Shape(), "Acme{Remove}");
  const ShortcutNode* remove = Node("Acme\\Remove");
  EXPECT_TRUE(remove->Uninstaller);
  EXPECT_GT(remove->FileSize, 0u);
  EXPECT_FALSE(remove->Binary);
  EXPECT_EQ(exe_reads, 0) << "no version information is read for uninstallers";
  const std::vector<std::string>& installers = tree.InstallerFileNames();
  for (const char* name : {"unwise.exe", "msiexec.exe", "unins000.exe", "unins003.exe",
                           "setup.exe", "UninsHs.exe"})
    EXPECT_NE(std::find(installers.begin(), installers.end(), name), installers.end()) << name;
  const std::vector<std::string>& system = tree.KnownSystemPrograms();
  auto known = [&](const char* path) {
    return std::any_of(system.begin(), system.end(),
                       [&](const std::string& p) { return text::EqualsNoCase(p, path); });
  };
  EXPECT_TRUE(known("C:\\Windows\\hh.exe"));
  EXPECT_TRUE(known("C:\\Program Files\\Internet Explorer\\iexplore.exe"));
  EXPECT_TRUE(known("C:\\Program Files (x86)\\Internet Explorer\\iexplore.exe"));
  EXPECT_FALSE(known("C:\\Program Files (x86)\\hh.exe"));  // only Program Files ones twice

  // Dropped shortcuts leave no node, but are not resolved again while unchanged.
  Scan();
  EXPECT_EQ(link_reads, 0);
  Link(kPrograms + "Acme\\Repair.lnk", "C:\\Windows\\system32\\msiexec.exe", "/f", kT0 + 1);
  Scan();
  EXPECT_GT(link_reads, 0);
  EXPECT_EQ(Shape(), "Acme{Remove}");
}

TEST_F(ShortcutsTreeTest, UserAndAllUsersFoldersMergeWithTwoLastWriteTimes) {
  Link(kPrograms + "Acme\\Reader.lnk", "C:\\reader.exe");
  Link(kCommonPrograms + "ACME\\Help.lnk", "C:\\help.exe");
  Link(kCommonPrograms + "ACME\\Docs\\Guide.lnk", "C:\\guide.exe");
  m.files.SetLastWrite(kPrograms + "Acme", kT0 + 10);
  m.files.SetLastWrite(kCommonPrograms + "ACME", kT0 + 20);
  for (int run = 0; run < 2; ++run) {  // a rescan starts the times afresh
    Scan();
    EXPECT_EQ(Shape(), "Acme{Reader,Help,Docs{Guide}}");
    EXPECT_EQ(Node("Acme")->LastWriteTimes, (std::vector<FileTime>{kT0 + 10, kT0 + 20}));
  }
  EXPECT_NE(Saved().find(" <Folder Name=\"Acme\" LastWriteTime=\"133500000000000010\" "
                         "LastWriteTime1=\"133500000000000020\">\r\n"),
            std::string::npos);
}

TEST_F(ShortcutsTreeTest, WindowsFoldersAreNotDescendedAtTheTopOnly) {
  m.registry.Write(RootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                   "SM_AccessoriesName", RegValue::String("Zubeh\xC3\xB6r"));
  m.registry.Write(RootKey::ClassesRoot, "CLSID\\{D20EA4E1-3957-11d2-A40B-0C5020524153}", "",
                   RegValue::String("Verwaltung"));
  for (const char* folder : {"ZUBEH\xC3\x96R", "Games", "maintenance", "Extras and Upgrades",
                             "Verwaltung", "Accessories"})
    Link(kPrograms + folder + "\\Tool.lnk", "C:\\tool.exe");
  Link(kCommonPrograms + "Games\\Solitaire.lnk", "C:\\sol.exe");
  Link(kPrograms + "Acme\\Games\\Chess.lnk", "C:\\chess.exe");
  Link(kPrograms + "Acme\\Maintenance\\Check.lnk", "C:\\check.exe");
  Scan();
  EXPECT_EQ(tree.GamesName(), "Games");
  // "Accessories" is skipped only when the system has no name of its own.
  EXPECT_EQ(Shape(), "Accessories{Tool},Acme{Games{Chess},Maintenance{Check}}");
}

TEST_F(ShortcutsTreeTest, UnchangedShortcutsAreNeverResolvedOrReadAgain) {
  for (const char* f : {"F0", "F1\\Deeper"})
    for (const char* s : {"S0", "S1"}) {
      const std::string exe = "C:\\Program Files\\" + std::string(f) + "\\" + s + ".exe";
      Exe(exe, s);
      Link(kPrograms + f + "\\" + s + ".lnk", exe);
    }
  Link(kDesktop + "Desk.lnk", "C:\\Program Files\\F0\\S0.exe");
  // Same time, and its name starts with the other one's.
  Link(kDesktop + "Desktop Help.lnk", "C:\\help.txt");
  Scan();
  EXPECT_EQ(link_reads, 2 * 6);  // the installer's look, then the shell link's
  EXPECT_EQ(exe_reads, 1 + 5);   // notepad once, then every target
  const std::string first = Saved();

  Scan();
  EXPECT_EQ(link_reads + exe_reads, 0);
  EXPECT_EQ(Saved(), first);

  // A new process from the cache, even with a file name in other case.
  m.files.Delete(kDesktop + "Desk.lnk");
  Link(kDesktop + "DESK.LNK", "C:\\Program Files\\F0\\S0.exe");
  ShortcutsTree again{m.machine, data, progress};
  again.LoadCache();
  Scan(again);
  EXPECT_EQ(link_reads + exe_reads, 0);
  EXPECT_EQ(Saved(again), first);
}

TEST_F(ShortcutsTreeTest, TouchedShortcutIsReplacedAtTheEndAndDeletedOnesGo) {
  for (const char* name : {"A", "B", "C"}) Link(kPrograms + "Acme\\" + name + ".lnk", "C:\\x.exe");
  Link(kPrograms + "Old\\Only.lnk", "C:\\only.exe");
  Scan();
  const ShortcutNode* old_a = Node("Acme\\A");

  Link(kPrograms + "Acme\\A.lnk", "C:\\a2.exe", "", kT0 + 5);
  m.files.Delete(kPrograms + "Acme\\B.lnk");
  m.files.Delete(kPrograms + "Old\\Only.lnk");
  Scan();
  EXPECT_EQ(link_reads, 2);
  EXPECT_EQ(Shape(), "Acme{C,A},Old{}");  // the folder is still there, but empty
  EXPECT_NE(Node("Acme\\A"), old_a);
  EXPECT_EQ(Node("Acme\\A")->LinksTo.Path, "C:\\a2.exe");
  EXPECT_EQ(Saved().find("Old"), std::string::npos) << "a folder without shortcuts is not written";

  // Deleted since the last run: gone after the first scan from the cache.
  m.files.Delete(kPrograms + "Acme\\C.lnk");
  ShortcutsTree again{m.machine, data, progress};
  again.LoadCache();
  EXPECT_EQ(Shape(again.root()), "Acme{C,A}");
  Scan(again);
  EXPECT_EQ(Shape(again.root()), "Acme{A},Old{}");
}

TEST_F(ShortcutsTreeTest, EqualShortcutsScannedIntoOneNodeGiveOneNodeAndProgressNeverFalls) {
  Link(kPrograms + "Acme.lnk", "C:\\acme.exe");
  Link(kDesktop + "acme.lnk", "C:\\acme.exe");
  Link(kCommonDesktop + "Acme.lnk", "C:\\acme.exe", "", kT0 + 1);  // another time
  Link(kStartMenu + "Top.lnk", "C:\\top.exe");
  Link(kQuickLaunch + "Quick.lnk", "C:\\quick.exe");
  Link(kQuickLaunch + "User Pinned\\Pinned.lnk", "C:\\pinned.exe");
  progress.begin(2);
  Scan();
  // Quick launch goes into the top; its own subfolders become folders there.
  EXPECT_EQ(Shape(), "Top,Acme,Acme,Quick,User Pinned{Pinned}");
  EXPECT_EQ(link_reads, 2 * 5);
  EXPECT_EQ(progress.depth(), 1u);
  EXPECT_DOUBLE_EQ(range.current(), 50.0);
  for (std::size_t i = 1; i < range.values.size(); ++i)
    EXPECT_LE(range.values[i - 1], range.values[i] + 1e-9) << "step " << i;
}

TEST_F(ShortcutsTreeTest, UnreadableAndMissingFoldersContributeNothing) {
  Link(kPrograms + "Locked\\A.lnk", "C:\\a.exe");
  Link(kPrograms + "Open\\B.lnk", "C:\\b.exe");
  Link(kDesktop + "C.lnk", "C:\\c.exe");
  m.files.SetFaultHook([](FileOp op, std::string_view path) {
    return op == FileOp::List && path.find("Locked") != std::string_view::npos;
  });
  m.shell.SetFolder(SpecialFolder::Desktop, std::nullopt);
  Scan();
  EXPECT_EQ(Shape(), "Locked{},Open{B}");
}

TEST_F(ShortcutsTreeTest, RefreshFileInfoRereadsChangedTargetsWithTheSameRules) {
  Exe("C:\\Program Files\\Paint\\paint.exe", "Paint", "Acme", "1.0");
  Exe("C:\\Program Files\\Keep\\keep.exe", "Keep");
  Exe("C:\\Program Files\\Same\\same.exe", "Same", "Acme", "1.0");
  Link(kPrograms + "Paint.lnk", "C:\\Program Files\\Paint\\paint.exe");
  Link(kPrograms + "Keep.lnk", "C:\\Program Files\\Keep\\keep.exe");
  Link(kPrograms + "Same.lnk", "C:\\Program Files\\Same\\same.exe");
  Scan();
  m.clock.Advance(10'000'000);
  Exe("C:\\Program Files\\Paint\\paint.exe", "Paint Application", "Acme", "2.0");
  m.files.AddFile("C:\\Program Files\\Keep\\keep.exe", "MZ no resource");
  // Same size, same time: taken as unchanged, and not read.
  const FileTime same_time = m.files.GetInfo("C:\\Program Files\\Same\\same.exe")->last_write;
  Exe("C:\\Program Files\\Same\\same.exe", "Same", "Acme", "9.0");
  m.files.SetLastWrite("C:\\Program Files\\Same\\same.exe", same_time);
  exe_reads = 0;
  tree.RefreshFileInfo();
  EXPECT_EQ(exe_reads, 2);
  EXPECT_EQ(Node("Paint")->Binary->ProductName, "Paint");
  EXPECT_EQ(Node("Paint")->Binary->ProductVersion, "2.0");
  EXPECT_EQ(Node("Paint")->TargetWriteTime,
            m.files.GetInfo("C:\\Program Files\\Paint\\paint.exe")->last_write);
  // What a fresh resolve would find: no version information any more.
  EXPECT_FALSE(Node("Keep")->Binary);
  EXPECT_EQ(Node("Keep")->FileSize, 14u);
  EXPECT_EQ(Node("Same")->Binary->ProductVersion, "1.0");
}

TEST_F(ShortcutsTreeTest, ScanRereadsATargetUpdatedBehindAnUnchangedShortcut) {
  const std::string exe = "C:\\Program Files\\Acme\\acme.exe";
  Exe(exe, "Acme", "Acme", "1.0 beta");
  Link(kPrograms + "Acme.lnk", exe);
  m.files.AddFile("C:\\Program Files\\Acme\\remove.exe", "MZ");
  Uninstall("Acme", "C:\\Program Files\\Acme\\remove.exe");
  Link(kPrograms + "Remove.lnk", "C:\\Program Files\\Acme\\remove.exe");
  Scan();
  ASSERT_EQ(Node("Acme")->Binary->ProductVersion, "1.0 beta");

  Scan();
  EXPECT_EQ(link_reads + exe_reads, 0) << "an unchanged target costs a stat only";

  m.clock.Advance(10'000'000);
  Exe(exe, "Acme", "Acme", "2.0");
  m.files.AddFile("C:\\Program Files\\Acme\\remove.exe", "MZ, a newer one");
  Scan();
  EXPECT_EQ(link_reads, 0);
  EXPECT_EQ(exe_reads, 1) << "the uninstaller is measured again, not read";
  EXPECT_EQ(Node("Acme")->Binary->ProductVersion, "2.0");
  EXPECT_EQ(Node("Remove")->FileSize, 15u);
  EXPECT_FALSE(Node("Remove")->Binary);

  // A new process from the cache agrees, and reads nothing more.
  ShortcutsTree again{m.machine, data, progress};
  const std::string saved = Saved();
  again.LoadCache();
  Scan(again);
  EXPECT_EQ(link_reads + exe_reads, 0);
  EXPECT_EQ(Node(again.root(), "Acme")->Binary->ProductVersion, "2.0");
  EXPECT_EQ(Saved(again), saved);
}

TEST_F(ShortcutsTreeTest, ACacheWithoutTargetTimesRereadsEachTargetOnce) {
  const std::string exe = "C:\\Program Files\\Acme\\acme.exe";
  Exe(exe, "Acme", "Acme", "1.0");
  Link(kPrograms + "Acme.lnk", exe);
  Scan();
  std::string saved = Saved();
  const std::size_t at = saved.find(" TargetWriteTime=\"");
  ASSERT_NE(at, std::string::npos);
  saved.erase(at, saved.find('"', saved.find('"', at) + 1) + 1 - at);
  // The file as the client wrote it before target times were kept, and the
  // program updated since (same size, the time alone tells).
  m.files.WriteAll(kCache, saved);
  Exe(exe, "Acme", "Acme", "2.0");

  ShortcutsTree old_file{m.machine, data, progress};
  old_file.LoadCache();
  EXPECT_EQ(Node(old_file.root(), "Acme")->TargetWriteTime, 0u);
  Scan(old_file);
  EXPECT_EQ(exe_reads, 1 + 1);  // notepad for the product rules, then the target
  EXPECT_EQ(Node(old_file.root(), "Acme")->Binary->ProductVersion, "2.0");
  Scan(old_file);
  EXPECT_EQ(exe_reads, 0);
}

TEST_F(ShortcutsTreeTest, SavedBytes) {
  Uninstall("Acme", "\"C:\\Program Files\\Acme\\remove.exe\" /u");
  const std::string size =
      std::to_string(Exe("C:\\Program Files\\Acme\\reader.exe", "Acme \"Reader\"",
                         "Acme & <Sons> 'Ltd'", "1, 0, 2, 5"));
  const std::string remove_size = std::to_string(Exe("C:\\Program Files\\Acme\\remove.exe", "x"));
  Link(kPrograms + "Acme\\Tools\\More\\Deep\\R&D.lnk", "C:\\Program Files\\Acme\\reader.exe",
       "/open \"a b\"");
  Link(kPrograms + "Acme\\Remove Acme.lnk", "C:\\Program Files\\Acme\\remove.exe", "/u", kT0 + 1);
  Link(kPrograms + "Empty\\Setup.lnk", "C:\\Program Files\\Empty\\setup.exe");
  Link(kDesktop + "Notes.lnk", "C:\\notes.txt", "", kT0 + 2);
  for (const char* f : {"Acme", "Acme\\Tools", "Acme\\Tools\\More", "Acme\\Tools\\More\\Deep"})
    m.files.SetLastWrite(kPrograms + f, kT0 + 100);
  m.files.SetLastWrite("C:\\Program Files\\Acme\\reader.exe", kT0 + 50);
  m.files.SetLastWrite("C:\\Program Files\\Acme\\remove.exe", kT0 + 51);
  Scan();

  // clang-format off
  const std::string t = "133500000000000100";
  EXPECT_EQ(Saved(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<ShortcutsTree>\r\n"
            " <Folder Name=\"Acme\" LastWriteTime=\"" + t + "\">\r\n"
            "  <Shortcut Name=\"Remove Acme\" "
            "LinksTo=\"&quot;C:\\Program Files\\Acme\\remove.exe&quot; /u\" "
            "FileSize=\"" + remove_size + "\" "
            "LastWriteTime=\"133500000000000001\" TargetWriteTime=\"133500000000000051\" "
            "Uninstaller=\"true\" />\r\n"
            "  <Folder Name=\"Tools\" LastWriteTime=\"" + t + "\">\r\n"
            "   <Folder Name=\"More\" LastWriteTime=\"" + t + "\">\r\n"
            "    <Folder Name=\"Deep\" LastWriteTime=\"" + t + "\">\r\n"
            "     <Shortcut Name=\"R&amp;D\" "
            "LinksTo=\"&quot;C:\\Program Files\\Acme\\reader.exe&quot; /open &quot;a b&quot;\" "
            "FileSize=\"" + size + "\" LastWriteTime=\"133500000000000000\" "
            "TargetWriteTime=\"133500000000000050\">\r\n"
            "   <Binary>\r\n"
            "    <ProductName>Acme &quot;Reader&quot;</ProductName>\r\n"
            "    <ProductVersion>1.0.2.5</ProductVersion>\r\n"
            "    <FileDescription>Acme &quot;Reader&quot; program</FileDescription>\r\n"
            "    <InternalName>internal</InternalName>\r\n"
            "    <LegalCopyright>(c) Acme</LegalCopyright>\r\n"
            "    <OriginalFilename>orig.exe</OriginalFilename>\r\n"
            "    <CompanyName>Acme &amp; &lt;Sons> 'Ltd'</CompanyName>\r\n"
            "    <FileName>reader.exe</FileName>\r\n"
            "    <FileSize>" + size + "</FileSize>\r\n"
            "   </Binary>\r\n"
            "     </Shortcut>\r\n"
            "    </Folder>\r\n"
            "   </Folder>\r\n"
            "  </Folder>\r\n"
            " </Folder>\r\n"
            " <Shortcut Name=\"Notes\" LinksTo=\"C:\\notes.txt\" FileSize=\"0\" "
            "LastWriteTime=\"133500000000000002\" />\r\n"
            "</ShortcutsTree>\r\n");
  // clang-format on
  EXPECT_FALSE(m.files.Exists(kCache + ".bak"));
}

TEST_F(ShortcutsTreeTest, CacheRoundTripKeepsEveryField) {
  Uninstall("Acme", "\"C:\\Program Files\\Acme\\remove.exe\" /u");
  Exe("C:\\Program Files\\Acme\\reader.exe", "Acme Reader", "Acme & Sons", "5, 2");
  Exe("C:\\Program Files\\Acme\\remove.exe", "x");
  Link(kPrograms + "Acme\\Caf\xC3\xA9.lnk", "C:\\Program Files\\Acme\\reader.exe", "-x");
  Link(kPrograms + "Acme\\Remove.lnk", "C:\\Program Files\\Acme\\remove.exe", "/u");
  Link(kCommonPrograms + "Acme\\Plain.lnk", "C:\\Program Files\\Acme\\plain.txt");
  Scan();
  const std::string first = Saved();

  ShortcutsTree loaded{m.machine, data, progress};
  loaded.LoadCache();
  ASSERT_EQ(Shape(loaded.root()), Shape());
  const ShortcutNode* cafe = Node(loaded.root(), "Acme\\Caf\xC3\xA9");
  EXPECT_TRUE(cafe->Unseen && Node(loaded.root(), "Acme")->Unseen);
  EXPECT_EQ(cafe->LinksTo, Node("Acme\\Caf\xC3\xA9")->LinksTo);
  EXPECT_EQ(cafe->FileSize, Node("Acme\\Caf\xC3\xA9")->FileSize);
  EXPECT_EQ(cafe->Binary->CompanyName, "Acme & Sons");
  EXPECT_EQ(cafe->Binary->ProductVersion, "5.2");
  EXPECT_TRUE(Node(loaded.root(), "Acme\\Remove")->Uninstaller);
  EXPECT_EQ(Node(loaded.root(), "Acme\\Plain")->LinksTo.Path, "C:\\Program Files\\Acme\\plain.txt");
  EXPECT_EQ(Saved(loaded), first);

  tree.LoadCache();  // only into an empty tree
  EXPECT_FALSE(Node("Acme")->Unseen);
}

TEST_F(ShortcutsTreeTest, ATargetWithBlanksAndNoArgumentsSurvivesTheCache) {
  Exe("C:\\Tools\\Game Launcher.exe", "Game Launcher");
  Exe("C:\\Tools\\Game.exe", "Game");
  Link(kPrograms + "Game Launcher.lnk", "C:\\Tools\\Game Launcher.exe");
  Link(kPrograms + "Game.lnk", "C:\\Tools\\Game.exe");
  Link(kPrograms + "Game Setup.lnk", "C:\\Tools\\Game Launcher.exe", "/setup");
  Scan();
  const std::string saved = Saved();
  EXPECT_NE(saved.find("LinksTo=\"&quot;C:\\Tools\\Game Launcher.exe&quot;\""), std::string::npos);
  EXPECT_NE(saved.find("LinksTo=\"C:\\Tools\\Game.exe\""), std::string::npos);

  ShortcutsTree loaded{m.machine, data, progress};
  loaded.LoadCache();
  for (const char* name : {"Game Launcher", "Game", "Game Setup"})
    EXPECT_EQ(Node(loaded.root(), name)->LinksTo, Node(name)->LinksTo) << name;
  EXPECT_EQ(Saved(loaded), saved);
}

// Settles the open point: a shortcut without its target, size or time is
// passed over and the rest of the file is read.
TEST_F(ShortcutsTreeTest, LoadingIncompleteAndOddElements) {
  m.files.AddFile(
      kCache + ".bak",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ShortcutsTree>\r\n"
      " <FOLDER Name=\"F\" LastWriteTime=\"7\" LastWriteTime1=\"8\" LastWriteTime3=\"9\">\r\n"
      "  <Shortcut Name=\"NoTarget\" FileSize=\"1\" LastWriteTime=\"1\" />\r\n"
      "  <Shortcut Name=\"NoSize\" LinksTo=\"C:\\x.exe\" LastWriteTime=\"1\" />\r\n"
      "  <Shortcut Name=\"Kept\" LinksTo=\"&quot;C:\\k.exe&quot; -a\" FileSize=\"12\" "
      "LastWriteTime=\"3\" Uninstaller=\"TRUE\" />\r\n"
      "  <Shortcut LinksTo=\"C:\\n.exe\" FileSize=\"1\" LastWriteTime=\"1\" />\r\n"
      "  <Shortcut Name=\"AfterNameless\" LinksTo=\"C:\\a.exe\" FileSize=\"1\" LastWriteTime=\"1\" "
      "/>\r\n"
      " </FOLDER>\r\n"
      " <Shortcut Name=\"Top\" LinksTo=\"C:\\t.exe\" FileSize=\"-5\" LastWriteTime=\"4\"><Binary>"
      "<productname>T</productname><Unknown>u</Unknown></Binary></Shortcut>\r\n"
      " <Shortcut/>\r\n"
      " <Shortcut Name=\"Late\" LinksTo=\"C:\\l.exe\" FileSize=\"1\" LastWriteTime=\"1\" />\r\n"
      "</ShortcutsTree>\r\n");
  tree.LoadCache();
  EXPECT_EQ(Shape(), "F{Kept},Top");
  EXPECT_EQ(Node("F")->LastWriteTimes, (std::vector<FileTime>{7, 8}));
  const ShortcutNode* kept = Node("F\\Kept");
  EXPECT_EQ(kept->LinksTo, (CommandLine{"C:\\k.exe", "-a"}));
  EXPECT_EQ(kept->FileSize, 12u);
  EXPECT_TRUE(kept->Uninstaller);
  EXPECT_EQ(Node("Top")->FileSize, 0u);
  EXPECT_EQ(Node("Top")->Binary->ProductName, "T");

  // A broken store file is kept aside; the ".bak" of an interrupted save
  // takes its place.
  ShortcutsTree other{m.machine, data, progress};
  m.files.AddFile(kCache, "<?xml version=\"1.0\"?>\r\n<ShortcutsTree>\r\n <Folder Na");
  other.LoadCache();
  EXPECT_EQ(other.root().children.size(), 2u);
  EXPECT_TRUE(m.files.Exists(std::string(kCache) + ".broken"));
}

}  // namespace
}  // namespace kv::inventory
