#include <gtest/gtest.h>

#include "inventory/file_version_info.h"
#include "inventory/version_resource.h"
#include "platform/fake/fake_machine.h"
#include "platform/pe_resources.h"
#include "platform/fake/version_block_builder.h"

namespace kv::inventory {
namespace {

using platform::BuildPeImage;
using platform::BuildVersionBlock;
using platform::VersionSpec;
using platform::VersionStrings;

VersionSpec Typical() {
  VersionSpec layout;
  layout.product[0] = 5, layout.product[1] = 2, layout.product[2] = 0, layout.product[3] = 0;
  layout.tables = {{"040904b0",
                  {{"CompanyName", "Acme & Sons"},
                   {"FileDescription", "Acme Reader"},
                   {"FileVersion", "5.2.0.0"},
                   {"ProductName", "Acme Reader"},
                   {"ProductVersion", "5, 2, 0, 0"},
                   {"InternalName", "reader"},
                   {"OriginalFilename", "reader.exe"},
                   {"LegalCopyright", "\xC2\xA9 Acme"}}}};
  return layout;
}

TEST(VersionResource, QueriesNodesByPathWithoutRegardToCase) {
  const std::string block = BuildVersionBlock(Typical());
  EXPECT_EQ(QueryVersionString(block, "\\StringFileInfo\\040904B0\\companyname"), "Acme & Sons");
  EXPECT_EQ(QueryVersionValue(block, "\\VarFileInfo\\Translation")->size(), 4u);
  EXPECT_EQ(QueryVersionValue(block, "\\")->size(), 52u);
  EXPECT_FALSE(QueryVersionString(block, "\\StringFileInfo\\040904b0\\Missing"));
  EXPECT_FALSE(QueryVersionString(block, "\\StringFileInfo\\04070000\\CompanyName"));
}

TEST(VersionResource, TruncatedOrGarbageBlocksAnswerNothing) {
  const std::string block = BuildVersionBlock(Typical());
  for (std::size_t cut : {0u, 1u, 7u, 40u, 91u, 200u}) {
    const std::string part = block.substr(0, std::min(cut, block.size()));
    EXPECT_FALSE(QueryVersionString(part, "\\StringFileInfo\\040904b0\\CompanyName")) << cut;
  }
  std::string lying = block;
  lying[0] = '\xFF', lying[1] = '\xFF';  // claims to be longer than it is
  EXPECT_FALSE(QueryVersionValue(lying, "\\").has_value());
}

TEST(FileVersionInfo, ReadsTheEnglishTableAndNormalisesTheProductVersion) {
  FileVersionInfo info;
  ASSERT_TRUE(info.ReadBlock(BuildVersionBlock(Typical())));
  EXPECT_EQ(info.ProductVersion, "5.2.0.0");
  EXPECT_EQ(info.CompanyName, "Acme & Sons");
  EXPECT_EQ(info.LegalCopyright, "\xC2\xA9 Acme");
  EXPECT_EQ(FormatVersion(info.FixedProductVersion), "5.2");
  EXPECT_EQ(info.SpecialBuild, "");
}

TEST(FileVersionInfo, PrefersTheEnglishTranslationOverTheFirst) {
  VersionSpec layout = Typical();
  layout.translations = {{0x0407, 0x04B0}, {0x0809, 0x04E4}};
  layout.tables = {{"040704b0", {{"ProductName", "Leser"}}}, {"080904e4", {{"ProductName", "Reader"}}}};
  FileVersionInfo info;
  ASSERT_TRUE(info.ReadBlock(BuildVersionBlock(layout)));
  EXPECT_EQ(info.ProductName, "Reader");
}

TEST(FileVersionInfo, LanguageZeroRetriesAsUsEnglish) {
  VersionSpec layout = Typical();
  layout.translations = {{0x0000, 0x04B0}};
  FileVersionInfo info;
  ASSERT_TRUE(info.ReadBlock(BuildVersionBlock(layout)));
  EXPECT_EQ(info.ProductName, "Acme Reader");
  EXPECT_EQ(info.OriginalFilename, "reader.exe");
}

TEST(FileVersionInfo, MissingTranslationTableFallsBackToTheRawTableKey) {
  VersionSpec layout = Typical();
  layout.translation_table = false;
  layout.tables[0].table_key = "041904e3";
  FileVersionInfo info;
  ASSERT_TRUE(info.ReadBlock(BuildVersionBlock(layout)));
  EXPECT_EQ(info.ProductName, "Acme Reader");
}

TEST(FileVersionInfo, EmptyProductVersionComesFromTheFixedBlock) {
  VersionSpec layout = Typical();
  layout.tables[0].values = {{"ProductName", "X"}};
  layout.product[0] = 5, layout.product[1] = 0;
  FileVersionInfo info;
  ASSERT_TRUE(info.ReadBlock(BuildVersionBlock(layout)));
  EXPECT_EQ(info.ProductVersion, "5.0");
}

TEST(FileVersionInfo, NoFixedBlockAndNoTableIsFalse) {
  VersionSpec layout;
  layout.fixed = false;
  layout.translation_table = false;
  FileVersionInfo info;
  EXPECT_FALSE(info.ReadBlock(BuildVersionBlock(layout)));
  layout.fixed = true;
  EXPECT_TRUE(info.ReadBlock(BuildVersionBlock(layout)));  // fixed block alone
}

TEST(FileVersionInfo, ReadsRealPeImagesThroughTheFakeShell) {
  platform::FakeMachine m;
  const std::string block = BuildVersionBlock(Typical());
  m.files.AddFile("C:\\Program Files\\Acme\\reader.exe", BuildPeImage(&block));
  m.files.AddFile("C:\\Program Files\\Acme\\plain.exe", BuildPeImage(nullptr));
  m.files.AddFile("C:\\Program Files\\Acme\\notes.txt", "MZ but not really");
  FileVersionInfo info(m.shell, "C:\\Program Files\\Acme\\reader.exe");
  EXPECT_EQ(info.ProductName, "Acme Reader");
  EXPECT_FALSE(info.Read(m.shell, "C:\\Program Files\\Acme\\plain.exe"));
  EXPECT_EQ(info.ProductName, "");
  EXPECT_FALSE(info.Read(m.shell, "C:\\Program Files\\Acme\\notes.txt"));
  EXPECT_FALSE(info.Read(m.shell, "C:\\nowhere.exe"));
}

TEST(PeResources, CorruptImagesNeverReadOutOfBounds) {
  const std::string block = BuildVersionBlock(Typical());
  const std::string image = BuildPeImage(&block);
  ASSERT_EQ(platform::ExtractVersionResource(image), block);
  for (std::size_t cut = 0; cut < image.size(); cut += 61)
    platform::ExtractVersionResource(image.substr(0, cut));  // must not crash
  std::string bad = image;
  bad[0x3C] = '\x7F', bad[0x3D] = '\x7F';  // e_lfanew far outside
  EXPECT_FALSE(platform::ExtractVersionResource(bad));
}

}  // namespace
}  // namespace kv::inventory
