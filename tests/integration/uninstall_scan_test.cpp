// Uninstall entries written into Wine's registry (HKLM's 64-bit and 32-bit
// views and HKCU) and scanned through the real adapters must list exactly
// what the scan of the same registry and folders in a fake machine lists.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "inventory/uninstall_scanner.h"
#include "platform/fake/fake_machine.h"
#include "platform/win32/wide.h"
#include "text/chars.h"
#include "text/compare.h"
#include "text/format.h"

namespace kv::inventory {
namespace {

using platform::RegValue;
using platform::RegView;
using platform::RootKey;

platform::Machine& Real() { return platform::SystemMachine(); }

std::string Describe(const UninstallEntry& e) {
  return text::Format(
      "Id=%s|Name=%s|Ver=%s|Pub=%s|Loc=%s|Cmd=%s|Args=%s|Icon=%s|Group=%s|Contact=%s|Help=%s|"
      "Date=%s|Source=%s|About=%s|Update=%s|Folder=%s",
      e.Id.c_str(), e.DisplayName.c_str(), e.DisplayVersion.c_str(), e.Publisher.c_str(),
      e.InstallLocation.c_str(), e.UninstallString.Path.c_str(),
      e.UninstallString.Arguments.c_str(), e.DisplayIcon.c_str(), e.IconGroup.c_str(),
      e.Contact.c_str(), e.HelpLink.c_str(), e.InstallDate.c_str(), e.InstallSource.c_str(),
      e.URLInfoAbout.c_str(), e.URLUpdateInfo.c_str(), e.AppFolder.c_str());
}

struct Key {
  RootKey root;
  RegView view;
  std::string id;
  std::vector<std::pair<std::string, RegValue>> values;
};

class RealUninstallScan : public ::testing::Test {
 protected:
  void SetUp() override {
    // Unique per process: another test run may scan the same registry now,
    // and equal display names would merge across the runs.
    tag_ = text::Format("KorvanScanTest%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    const std::string windows =
        platform::SystemMachine().shell.GetFolder(platform::SpecialFolder::Windows).value();
    // Outside the profile: on Windows "AppData" is hidden, which would empty every folder.
    root_ = windows.substr(0, 3) + tag_ + "\\";
  }
  void TearDown() override {
    for (const Key& k : keys_) Real().registry.DeleteTree(k.root, KeyPath(k.id), k.view);
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      SetFileAttributesW(platform::win32::Widen(*it).c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!Real().files.Delete(*it)) Real().files.RemoveFolder(*it);
    }
  }

  static std::string KeyPath(const std::string& id) {
    return std::string(kUninstallKeyPath) + "\\" + id;
  }
  std::string Id(const char* name) const { return tag_ + "." + name; }
  std::string Name(const char* name) const { return tag_ + " " + name; }

  void Folder(const std::string& path) {
    ASSERT_NE(Real().files.MakeDirectory(path), platform::CreateDirResult::Failed) << path;
    made_.push_back(path);
  }
  void File(const std::string& path) {
    ASSERT_TRUE(Real().files.WriteAll(path, "MZ")) << path;
    made_.push_back(path);
  }
  void Write(Key k) {
    for (const auto& [name, value] : k.values)
      ASSERT_TRUE(Real().registry.Write(k.root, KeyPath(k.id), name, value, k.view)) << k.id;
    keys_.push_back(std::move(k));
  }

  // The fake machine gets the same registry keys, the same folders with the
  // attributes that the real file system reports for every folder of their
  // chains, and the real Windows and system folders.
  void Mirror(platform::FakeMachine& fake) {
    auto& shell = Real().shell;
    for (auto f : {platform::SpecialFolder::Windows, platform::SpecialFolder::System})
      fake.shell.SetFolder(f, shell.GetFolder(f));
    const std::string system = *shell.GetFolder(platform::SpecialFolder::System);
    fake.files.AddFile(system + "\\msiexec.exe", "MZ");
    fake.shell.SetEnvironment("SystemRoot", shell.ExpandEnvironment("%SystemRoot%"));
    for (const Key& k : keys_)
      for (const auto& [name, value] : k.values)
        fake.registry.Write(k.root, KeyPath(k.id), name, value, k.view);
    for (const std::string& path : made_) {
      const auto info = Real().files.GetInfo(path);
      ASSERT_TRUE(info) << path;
      if (info->directory)
        fake.files.AddFolder(path);
      else
        fake.files.AddFile(path, "MZ");
      for (std::size_t i = 3; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\') continue;
        const std::string prefix = path.substr(0, i);
        if (const auto real = Real().files.GetInfo(prefix))
          fake.files.SetHidden(prefix, real->hidden);
      }
    }
  }

  std::vector<UninstallEntry> Mine(const UninstallScanner& s) const {
    std::vector<UninstallEntry> out;
    for (const UninstallEntry& e : s.entries())
      if (e.Id.rfind(tag_, 0) == 0) out.push_back(e);
    return out;
  }

  std::string tag_, root_;
  std::vector<Key> keys_;
  std::vector<std::string> made_;  // in creation order
};

RegValue S(std::string s) { return RegValue::String(std::move(s)); }

TEST_F(RealUninstallScan, BothHklmViewsAndHkcuListLikeTheFakeMachine) {
  Folder(root_);
  Folder(root_ + "Editor App");
  File(root_ + "Editor App\\unins000.exe");
  Folder(root_ + "Plain Dir");
  File(root_ + "Plain Dir\\uninstall.exe");
  Folder(root_ + "Long Folder Name");
  Folder(root_ + "Hidden Dir");
  Folder(root_ + "Hidden Dir\\Child");
  File(root_ + "Hidden Dir\\Child\\u.exe");
  SetFileAttributesW(platform::win32::Widen(root_ + "Hidden Dir").c_str(), FILE_ATTRIBUTE_HIDDEN);
  const bool hidden_works = Real().files.GetInfo(root_ + "Hidden Dir")->hidden;

  wchar_t short_buf[MAX_PATH];
  const std::wstring long_dir = platform::win32::Widen(root_ + "Long Folder Name");
  const DWORD n = GetShortPathNameW(long_dir.c_str(), short_buf, MAX_PATH);
  const std::string short_dir = n ? platform::win32::Narrow({short_buf, n}) : std::string();

  const auto L = RootKey::LocalMachine;
  const auto U = RootKey::CurrentUser;
  Write({L,
         RegView::View64,
         Id("Editor"),
         {{"DisplayName", S("  " + Name("Editor") + "  ")},
          {"DisplayVersion", S("2.0 ")},
          {"Publisher", S("Acme & Sons")},
          {"InstallLocation", S("\"" + root_ + "Editor App\"")},
          {"UninstallString", S("\"" + root_ + "Editor App\\unins000.exe\" /SILENT")},
          {"Inno Setup: Icon Group", S(" Editor ")},
          {"URLInfoAbout", S("http://example.com/editor")},
          {"SystemComponent", RegValue::Dword(0)}}});
  Write({L,
         RegView::View64,
         Id("Hidden"),
         {{"DisplayName", S(Name("Runtime"))},
          {"UninstallString", S("\"" + root_ + "Plain Dir\\uninstall.exe\"")},
          {"SystemComponent", RegValue::Dword(1)}}});
  Write({L,
         RegView::View64,
         Id("Shared64"),
         {{"DisplayName", S(Name("Shared"))},
          {"DisplayVersion", S("1.0")},
          {"UninstallString", S(root_ + "Plain Dir\\uninstall.exe /S")}}});
  Write({L,
         RegView::View32,
         Id("Old32"),
         {{"DisplayName", S(Name("Old 32-bit"))},
          {"DisplayVersion", S("9.1")},
          {"UninstallString", S("MsiExec.exe /X{0D3E2A1B-1111-4C4C-8A8A-0123456789AB}")},
          {"InstallDate", S("20240105")}}});
  Write({L,
         RegView::View32,
         Id("Short32"),
         {{"DisplayName", S(Name("Short"))},
          {"InstallLocation", S(short_dir)},
          {"UninstallString", RegValue::Expand("\"%SystemRoot%\\unins-short.exe\"")}}});
  Write({U,
         RegView::Native,
         Id("HiddenDir"),
         {{"DisplayName", S(Name("Hidden folder"))},
          {"UninstallString", S("\"" + root_ + "Hidden Dir\\Child\\u.exe\"")}}});
  Write({U,
         RegView::Native,
         Id("SharedUser"),
         {{"DisplayName", S(text::ToUpper(Name("Shared")))},
          {"DisplayVersion", S("1.5")},
          {"Publisher", S("User Publisher")},
          {"UninstallString", S("\"" + root_ + "Plain Dir\\uninstall.exe\"")}}});
  Write({U, RegView::Native, Id("NoUninstaller"), {{"DisplayName", S(Name("Leftover"))}}});
  Write({U,
         RegView::Native,
         Id("Blank"),
         {{"DisplayName", S("   ")},
          {"UninstallString", S("\"" + root_ + "Plain Dir\\uninstall.exe\"")}}});

  app::DataFolder real_folder(Real());
  UninstallScanner real(Real(), real_folder);
  ASSERT_TRUE(real.Scan());
  const std::vector<UninstallEntry> got = Mine(real);

  // What the real scan must list on its own.
  std::vector<std::string> ids;
  for (const auto& e : got) ids.push_back(e.Id);
  EXPECT_EQ(ids, (std::vector<std::string>{Id("Editor"), Id("Shared64"), Id("Old32"), Id("Short32"),
                                           Id("HiddenDir")}));
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].DisplayName, Name("Editor"));
  EXPECT_EQ(got[0].DisplayVersion, "2.0");
  EXPECT_EQ(got[0].InstallLocation, root_ + "Editor App");
  EXPECT_EQ(got[0].AppFolder, root_ + "Editor App\\");
  EXPECT_EQ(got[0].UninstallString.Arguments, "/SILENT");
  EXPECT_EQ(got[1].DisplayVersion, "1.5");
  EXPECT_EQ(got[1].Publisher, "User Publisher");
  EXPECT_EQ(got[1].UninstallString.Path, root_ + "Plain Dir\\uninstall.exe");
  EXPECT_EQ(got[1].UninstallString.Arguments, "/S");
  EXPECT_EQ(got[1].AppFolder, root_ + "Plain Dir\\");
  EXPECT_TRUE(text::EndsWithNoCase(got[2].UninstallString.Path, "\\system32\\msiexec.exe"))
      << got[2].UninstallString.Path;
  EXPECT_EQ(got[2].AppFolder, "");
  EXPECT_TRUE(text::StartsWithNoCase(got[3].UninstallString.Path,
                                     Real().shell.ExpandEnvironment("%SystemRoot%\\")));
  if (short_dir.find('~') != std::string::npos) {
    EXPECT_EQ(got[3].InstallLocation, root_ + "Long Folder Name") << short_dir;
    EXPECT_EQ(got[3].AppFolder, root_ + "Long Folder Name\\");
  }
  if (hidden_works) {
    EXPECT_EQ(got[4].AppFolder, "");
  }

  // The fake machine over the same data lists the same, field by field. It
  // has no 8.3 names, so the short location stays short there.
  platform::FakeMachine fake;
  Mirror(fake);
  app::DataFolder fake_folder(fake.machine);
  UninstallScanner replay(fake.machine, fake_folder);
  replay.Scan();
  std::vector<UninstallEntry> expected = Mine(replay);
  std::vector<std::string> want, have;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i].Id == Id("Short32") && i < got.size()) {
      EXPECT_EQ(expected[i].InstallLocation, short_dir);
      expected[i].InstallLocation = got[i].InstallLocation;
      expected[i].AppFolder = got[i].AppFolder;
    }
    want.push_back(Describe(expected[i]));
  }
  for (const auto& e : got) have.push_back(Describe(e));
  EXPECT_EQ(have, want);
}

}  // namespace
}  // namespace kv::inventory
