// The shortcuts tree on the real adapters: ".lnk" files written by
// IShellLinkW into the Wine prefix's user and all-users Programs folders,
// targets with windres version resources, and the cache in the data folder.
#include "inventory/shortcuts_tree.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "app/data_folder.h"
#include "app/progress_tracker.h"
#include "inventory/uninstall_scanner.h"
#include "integration/real_machine.h"
#include "platform/machine.h"
#include "platform/win32/scoped_win.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

using integration::Fixture;
using integration::Real;
using integration::WriteLink;
using platform::win32::SetLastWriteTime;

using platform::RegValue;
using platform::RootKey;
using platform::SpecialFolder;

constexpr char kFolder[] = "Korvan Tree Test";
constexpr char kUninstallId[] = "KorvanTreeTest";




const ShortcutNode* Child(const ShortcutNode& node, std::string_view name) {
  for (const auto& c : node.children)
    if (c->Name == name) return c.get();
  return nullptr;
}

class RealShortcutsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    user_ = *Real().shell.GetFolder(SpecialFolder::Programs) + "\\" + kFolder + "\\";
    common_ = *Real().shell.GetFolder(SpecialFolder::CommonPrograms) + "\\" + kFolder + "\\";
    CleanUp();
    Real().files.MakeDirectory(user_);
    Real().files.MakeDirectory(common_);
    remover_ = Fixture("kv_fixture_lang0.exe");
    Real().registry.Write(RootKey::CurrentUser, Key(), "DisplayName",
                          RegValue::String("Korvan tree test"));
    Real().registry.Write(RootKey::CurrentUser, Key(), "UninstallString",
                          RegValue::String("\"" + remover_ + "\" /remove"));
  }
  void TearDown() override { CleanUp(); }

  static std::string Key() { return std::string(kUninstallKeyPath) + "\\" + kUninstallId; }
  void CleanUp() {
    for (const std::string& dir : {user_, common_}) {
      for (const auto& e : Real().files.ListFolder(dir, "*")) Real().files.Delete(dir + e.name);
      Real().files.RemoveFolder(dir);
    }
    Real().registry.DeleteTree(RootKey::CurrentUser, Key());
    Real().files.Delete(data_.GetDataFilePath("shtree.xml"));
    Real().files.Delete(data_.GetDataFilePath("shtree.xml.bak"));
  }

  const platform::win32::ScopedComInit com_;
  std::string user_, common_, remover_;
  platform::Machine& machine_ = Real();
  app::DataFolder data_{machine_};
  app::ProgressRange range_;
  app::ProgressTracker progress_{range_};
  UninstallScanner uninstall_{machine_, data_};
};

TEST_F(RealShortcutsTree, ScansMergesAndNeverResolvesAnUnchangedShortcutAgain) {
  const std::string reader = Fixture("kv_fixture_english.exe");
  ASSERT_TRUE(WriteLink(user_ + "Acme Reader \xC3\xA9.lnk", reader, "/open \"a b\""));
  ASSERT_TRUE(WriteLink(user_ + "Remove.lnk", remover_, "/REMOVE"));
  ASSERT_TRUE(WriteLink(common_ + "Plain.lnk", Fixture("kv_fixture_plain.exe"), ""));
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  ASSERT_TRUE(WriteLink(common_ + "Repair.lnk", std::string(system) + "\\msiexec.exe", "/f {x}"));

  uninstall_.Scan();
  ShortcutsTree tree(machine_, data_, progress_);
  tree.Scan(uninstall_);
  EXPECT_DOUBLE_EQ(range_.current(), 100.0);
  const ShortcutNode* folder = Child(tree.root(), kFolder);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->LastWriteTimes.size(), 2u) << "user's and all users' folders merged";
  ASSERT_EQ(folder->children.size(), 3u);  // no node for the msiexec shortcut

  const ShortcutNode* acme = Child(*folder, "Acme Reader \xC3\xA9");
  ASSERT_TRUE(acme);
  EXPECT_TRUE(text::EqualsNoCase(acme->LinksTo.Path, reader)) << acme->LinksTo.Path;
  EXPECT_EQ(acme->LinksTo.Arguments, "/open \"a b\"");
  EXPECT_EQ(acme->FileSize, Real().files.GetInfo(reader)->size);
  ASSERT_TRUE(acme->Binary);
  EXPECT_EQ(acme->Binary->ProductName, "Acme Reader");
  EXPECT_EQ(acme->Binary->CompanyName, "Acme & Sons <Labs>");
  const ShortcutNode* remove = Child(*folder, "Remove");
  ASSERT_TRUE(remove);
  EXPECT_TRUE(remove->Uninstaller);
  EXPECT_FALSE(remove->Binary);
  EXPECT_FALSE(Child(*folder, "Plain")->Binary);

  // Unchanged (same name, same time) is never resolved again: a link given
  // another target but its old time keeps the old target, also in a new
  // process that starts from the cache.
  const platform::FileTime plain_time = Child(*folder, "Plain")->LastWriteTimes.front();
  ASSERT_TRUE(WriteLink(common_ + "Plain.lnk", reader, ""));
  ASSERT_TRUE(SetLastWriteTime(common_ + "Plain.lnk", plain_time));
  tree.Scan(uninstall_);
  EXPECT_EQ(folder->children.size(), 3u);
  EXPECT_FALSE(Child(*folder, "Plain")->Binary);
  tree.SaveCache();
  const auto saved = Real().files.ReadAll(data_.GetDataFilePath("shtree.xml"));
  ASSERT_TRUE(saved);
  EXPECT_NE(saved->find("<Folder Name=\"Korvan Tree Test\" LastWriteTime=\""), std::string::npos);
  EXPECT_NE(saved->find("LastWriteTime1=\""), std::string::npos);
  EXPECT_NE(saved->find("    <ProductName>Acme Reader</ProductName>\r\n"), std::string::npos);

  // A touched shortcut is resolved again and its fresh node comes last.
  const platform::FileTime touched = acme->LastWriteTimes.front() + 10'000'000;
  ASSERT_TRUE(SetLastWriteTime(user_ + "Acme Reader \xC3\xA9.lnk", touched));
  ShortcutsTree again(machine_, data_, progress_);
  again.LoadCache();
  again.Scan(uninstall_);
  const ShortcutNode* merged = Child(again.root(), kFolder);
  ASSERT_TRUE(merged);
  ASSERT_EQ(merged->children.size(), 3u);
  EXPECT_FALSE(Child(*merged, "Plain")->Binary);
  EXPECT_EQ(merged->children.back()->Name, "Acme Reader \xC3\xA9");
  EXPECT_EQ(merged->children.back()->LastWriteTimes.front(), touched);
  EXPECT_TRUE(merged->children.back()->Binary);

  Real().files.Delete(common_ + "Plain.lnk");
  again.Scan(uninstall_);
  EXPECT_FALSE(Child(*Child(again.root(), kFolder), "Plain"));
}

}  // namespace
}  // namespace kv::inventory
