// Version resources built by windres and shortcuts written by IShellLinkW,
// read back through the real adapters.
#include <gtest/gtest.h>

#include "inventory/command_line.h"
#include "inventory/file_version_info.h"
#include "integration/real_machine.h"
#include "platform/machine.h"
#include "platform/pe_resources.h"
#include "platform/win32/scoped_win.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

using integration::Fixture;
using integration::Real;
using integration::WriteLink;



TEST(RealVersionResources, ReadsAWindresResourceCompletely) {
  FileVersionInfo info(Real().shell, Fixture("kv_fixture_english.exe"));
  EXPECT_EQ(info.CompanyName, "Acme & Sons <Labs>");
  EXPECT_EQ(info.ProductName, "Acme Reader");
  EXPECT_EQ(info.ProductVersion, "3.1.0.0");
  EXPECT_EQ(info.FileVersion, "3, 1, 4, 1");
  EXPECT_EQ(info.OriginalFilename, "reader.exe");
  EXPECT_EQ(FormatVersion(info.FixedProductVersion), "3.1");
}

TEST(RealVersionResources, LanguageZeroTableIsReadThroughUsEnglish) {
  FileVersionInfo info(Real().shell, Fixture("kv_fixture_lang0.exe"));
  EXPECT_EQ(info.ProductName, "Neutral Player");
  EXPECT_EQ(info.CompanyName, "Neutral Tools");
  EXPECT_EQ(info.SpecialBuild, "beta");
  EXPECT_EQ(info.ProductVersion, "2.0");  // empty string: from the fixed block
}

TEST(RealVersionResources, NoResourceIsFalse) {
  FileVersionInfo info;
  EXPECT_FALSE(info.Read(Real().shell, Fixture("kv_fixture_plain.exe")));
  EXPECT_EQ(info.ProductName, "");
}

TEST(RealVersionResources, ThePortablePeReaderAgreesWithWindows) {
  for (const char* name : {"kv_fixture_english.exe", "kv_fixture_lang0.exe"}) {
    auto bytes = Real().files.ReadAll(Fixture(name));
    ASSERT_TRUE(bytes);
    auto block = platform::ExtractVersionResource(*bytes);
    ASSERT_TRUE(block) << name;
    FileVersionInfo portable, windows(Real().shell, Fixture(name));
    ASSERT_TRUE(portable.ReadBlock(*block));
    EXPECT_EQ(portable.ProductName, windows.ProductName);
    EXPECT_EQ(portable.ProductVersion, windows.ProductVersion);
    EXPECT_EQ(portable.CompanyName, windows.CompanyName);
    EXPECT_EQ(portable.FixedProductVersion, windows.FixedProductVersion);
  }
}


TEST(RealShortcuts, LinksWrittenByTheShellResolveBack) {
  const platform::win32::ScopedComInit com;
  const std::string dir = Real().files.TempFolder() + "korvan-links-\xC3\xA9";
  Real().files.MakeDirectory(dir);
  const std::string target = Fixture("kv_fixture_english.exe");
  const std::string link = dir + "\\Acme Reader \xC3\xA9.lnk";
  ASSERT_TRUE(WriteLink(link, target, "/open \"a b\""));
  CommandLine c;
  ASSERT_TRUE(ResolveShortcut(Real(), link, c));
  EXPECT_TRUE(text::EqualsNoCase(c.Path, target)) << c.Path;
  EXPECT_EQ(c.Arguments, "/open \"a b\"");
  // A second link through the same reused link object.
  const std::string second = dir + "\\Other.lnk";
  ASSERT_TRUE(WriteLink(second, Fixture("kv_fixture_lang0.exe"), ""));
  ASSERT_TRUE(ResolveShortcut(Real(), second, c));
  EXPECT_NE(c.Path.find("kv_fixture_lang0.exe"), std::string::npos);
  EXPECT_EQ(c.Arguments, "");
  Real().files.Delete(link);
  Real().files.Delete(second);
  Real().files.RemoveFolder(dir);
  EXPECT_FALSE(ResolveShortcut(Real(), link, c));
}

TEST(RealCommandLines, SearchPathAndEnvironment) {
  CommandLine c;
  c.Split(Real(), "MsiExec.exe /I{0A1B2C3D-1111-2222-3333-444455556666}", true);
  EXPECT_TRUE(text::EndsWithNoCase(c.Path, "\\system32\\msiexec.exe")) << c.Path;
  EXPECT_EQ(c.Arguments, "/I{0A1B2C3D-1111-2222-3333-444455556666}");
  c.Split(Real(), "%SystemRoot%\\notepad.exe file.txt", true);
  EXPECT_TRUE(text::EndsWithNoCase(c.Path, "\\windows\\notepad.exe")) << c.Path;
  EXPECT_EQ(c.Arguments, "file.txt");
}

}  // namespace
}  // namespace kv::inventory
