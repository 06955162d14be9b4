#include <gtest/gtest.h>

#include "inventory/command_line.h"
#include "platform/fake/fake_machine.h"

namespace kv::inventory {
namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.files.AddFile("C:\\Windows\\system32\\msiexec.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Foo Bar\\foo.exe", "MZ");
    m.files.AddFile("C:\\Program Files\\Foo Bar\\uninst.exe", "MZ");
    m.files.AddFile("C:\\Tools\\plain", "MZ");
  }
  CommandLine Split(const char* text, bool long_path = false) {
    CommandLine c;
    c.Split(m.machine, text, long_path);
    return c;
  }
  platform::FakeMachine m;
};

TEST_F(CommandLineTest, QuotedPathTakesEverythingUpToTheClosingQuote) {
  auto c = Split("\"C:\\Program Files\\Foo Bar\\uninst.exe\"   /S /D=x");
  EXPECT_EQ(c.Path, "C:\\Program Files\\Foo Bar\\uninst.exe");
  EXPECT_EQ(c.Arguments, "/S /D=x");
  c = Split("\"C:\\Program Files\\Foo Bar\\uninst.exe\"");
  EXPECT_EQ(c.Arguments, "");
  c = Split("\"C:\\Program Files\\Foo Bar\\uninst.exe /S");
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_EQ(c.Arguments, "");
}

TEST_F(CommandLineTest, UnquotedPathIsTheShortestExistingPrefix) {
  auto c = Split("C:\\Program Files\\Foo Bar\\foo.exe /S --x");
  EXPECT_EQ(c.Path, "C:\\Program Files\\Foo Bar\\foo.exe");
  EXPECT_EQ(c.Arguments, "/S --x");
  c = Split("  C:\\Program Files\\Foo Bar\\foo /uninstall");  // found with ".exe" added
  EXPECT_EQ(c.Path, "C:\\Program Files\\Foo Bar\\foo");
  EXPECT_EQ(c.Arguments, "/uninstall");
  c = Split("C:\\Tools\\plain arg");
  EXPECT_EQ(c.Path, "C:\\Tools\\plain");
  c = Split("C:\\Nowhere\\x.exe a b");  // nothing exists: the whole text
  EXPECT_EQ(c.Path, "C:\\Nowhere\\x.exe a b");
  EXPECT_EQ(c.Arguments, "");
}

TEST_F(CommandLineTest, BareProgramNamesComeFromTheSearchPath) {
  auto c = Split("MsiExec.exe /I{0A1B2C3D-1111-2222-3333-444455556666}");
  // The search path answers with the folder and the name as asked, as Windows does.
  EXPECT_EQ(c.Path, "C:\\Windows\\system32\\MsiExec.exe");
  EXPECT_EQ(c.Arguments, "/I{0A1B2C3D-1111-2222-3333-444455556666}");
  c = Split("msiexec /X{A}");
  EXPECT_EQ(c.Path, "C:\\Windows\\system32\\msiexec.exe");
  EXPECT_EQ(c.Arguments, "/X{A}");
}

TEST_F(CommandLineTest, EnvironmentStringsAreExpandedFirst) {
  auto c = Split("%ProgramFiles%\\Foo Bar\\foo.exe -q");
  EXPECT_EQ(c.Path, "C:\\Program Files\\Foo Bar\\foo.exe");
  EXPECT_EQ(c.Arguments, "-q");
  c = Split("\"%ProgramFiles%\\Foo Bar\\uninst.exe\"");
  EXPECT_EQ(c.Path, "C:\\Program Files\\Foo Bar\\uninst.exe");
}

TEST_F(CommandLineTest, LongPathStepRestoresTheStoredCase) {
  auto c = Split("\"c:\\program files\\foo bar\\FOO.EXE\"", true);
  EXPECT_EQ(c.Path, "C:\\Program Files\\Foo Bar\\foo.exe");
  c = Split("\"c:\\program files\\foo bar\\FOO.EXE\"", false);
  EXPECT_EQ(c.Path, "c:\\program files\\foo bar\\FOO.EXE");
}

TEST_F(CommandLineTest, FormatFileNameAndIsExe) {
  CommandLine c{"C:\\A\\b.exe", "/x"};
  EXPECT_EQ(c.Format(), "\"C:\\A\\b.exe\" /x");
  EXPECT_TRUE(c.IsExe());
  EXPECT_EQ(c.FileName(), "b.exe");
  EXPECT_EQ((CommandLine{"", "/x"}).Format(), "");
  EXPECT_EQ((CommandLine{"C:\\A\\b.exe", ""}).Format(), "C:\\A\\b.exe");
  EXPECT_FALSE((CommandLine{".exe", ""}).IsExe());
  EXPECT_TRUE((CommandLine{"a.EXE", ""}).IsExe());
  EXPECT_EQ((CommandLine{"d:/x/y.com", ""}).FileName(), "y.com");
  EXPECT_FALSE((CommandLine{"y.com", ""}).FileName().has_value());
  EXPECT_TRUE(Split("").IsEmpty());
}

TEST_F(CommandLineTest, FormatForSplitReadsBackAsTheSameCommand) {
  m.files.AddFile("C:\\Tools\\Game Launcher.exe", "MZ");
  m.files.AddFile("C:\\Tools\\Game.exe", "MZ");
  // Format() keeps its output; only the path alone with a blank changes.
  EXPECT_EQ((CommandLine{"C:\\Tools\\Game Launcher.exe", ""}).Format(),
            "C:\\Tools\\Game Launcher.exe");
  EXPECT_EQ((CommandLine{"C:\\Tools\\Game Launcher.exe", ""}).FormatForSplit(),
            "\"C:\\Tools\\Game Launcher.exe\"");
  EXPECT_EQ((CommandLine{"C:\\Tools\\Game.exe", ""}).FormatForSplit(), "C:\\Tools\\Game.exe");
  EXPECT_EQ((CommandLine{"", "/x"}).FormatForSplit(), "");
  for (const CommandLine& c : {CommandLine{"C:\\Tools\\Game Launcher.exe", ""},
                               CommandLine{"C:\\Tools\\Game Launcher.exe", "-w \"a b\""},
                               CommandLine{"C:\\Tools\\Game.exe", "Launcher.exe"},
                               CommandLine{"C:\\Tools\\Game.exe", ""}})
    EXPECT_EQ(Split(c.FormatForSplit().c_str()), c) << c.FormatForSplit();
}

TEST_F(CommandLineTest, ResolveShortcutPrefersTheAdvertisedComponent) {
  m.shell.AddShortcut("C:\\Links\\Foo.lnk", "C:\\Program Files\\Foo Bar\\foo.exe", "-x");
  m.shell.AddAdvertisedShortcut("C:\\Links\\Adv.lnk", "C:\\Program Files\\Foo Bar\\foo.exe");
  m.files.AddFile("C:\\Links\\Broken.lnk", "not a link");
  CommandLine c;
  ASSERT_TRUE(ResolveShortcut(m.machine, "C:\\Links\\Foo.lnk", c));
  EXPECT_EQ(c, (CommandLine{"C:\\Program Files\\Foo Bar\\foo.exe", "-x"}));
  ASSERT_TRUE(ResolveShortcut(m.machine, "C:\\Links\\Adv.lnk", c));
  EXPECT_EQ(c.Path, "C:\\Program Files\\Foo Bar\\foo.exe");
  EXPECT_FALSE(ResolveShortcut(m.machine, "C:\\Links\\Broken.lnk", c));
  EXPECT_TRUE(c.IsEmpty());
}

}  // namespace
}  // namespace kv::inventory
