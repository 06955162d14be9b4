// File-type associations written into Wine's registry (per user and
// machine-wide, with an open-with application found through App Paths) and
// scanned through the real adapters.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "integration/real_machine.h"
#include "inventory/association_scanner.h"
#include "text/compare.h"
#include "text/format.h"

namespace kv::inventory {
namespace {

using integration::Fixture;
using integration::Real;
using platform::RegValue;
using platform::RootKey;

constexpr const char* kAppPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

class RealAssociationScan : public ::testing::Test {
 protected:
  void SetUp() override {
    // Unique per process: another test run may use the same registry now.
    tag_ = text::Format("kvtest%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    Clean();
  }
  void TearDown() override { Clean(); }

  std::string UserExt() const { return "Software\\Classes\\." + tag_; }
  std::string UserProgId() const { return "Software\\Classes\\KorvanTest." + tag_; }
  std::string MachineExt() const { return "Software\\Classes\\." + tag_ + "m"; }
  std::string MachineProgId() const { return "Software\\Classes\\KorvanTestM." + tag_; }
  std::string AppName() const { return tag_ + ".exe"; }

  void Clean() {
    auto& reg = Real().registry;
    reg.DeleteTree(RootKey::CurrentUser, UserExt());
    reg.DeleteTree(RootKey::CurrentUser, UserProgId());
    reg.DeleteTree(RootKey::LocalMachine, MachineExt());
    reg.DeleteTree(RootKey::LocalMachine, MachineProgId());
    reg.DeleteTree(RootKey::LocalMachine, kAppPaths + AppName());
  }
  void Set(RootKey root, const std::string& path, const std::string& name, const RegValue& v) {
    ASSERT_TRUE(Real().registry.Write(root, path, name, v)) << path;
  }

  const ExtensionEntry* Find(const AssociationScanner& s, const std::string& ext) {
    for (const ExtensionEntry& e : s.entries())
      if (text::EqualsNoCase(e.Extension, ext)) return &e;
    return nullptr;
  }

  std::string tag_;
  const std::string english_ = Fixture("kv_fixture_english.exe");
  const std::string lang0_ = Fixture("kv_fixture_lang0.exe");
  const std::string plain_ = Fixture("kv_fixture_plain.exe");  // not a known program
};

TEST_F(RealAssociationScan, FindsPerUserAndMachineWideHandlersOfKnownPrograms) {
  const RegValue none = RegValue::String("");
  // Per user: a program identifier with a default verb, and an open-with
  // application registered only under App Paths.
  Set(RootKey::CurrentUser, UserExt(), "", RegValue::String("KorvanTest." + tag_));
  Set(RootKey::CurrentUser, UserProgId(), "", RegValue::String("Korvan test file"));
  Set(RootKey::CurrentUser, UserProgId() + "\\shell", "", RegValue::String("view"));
  Set(RootKey::CurrentUser, UserProgId() + "\\shell\\view\\command", "",
      RegValue::String("\"" + english_ + "\" /view \"%1\""));
  Set(RootKey::CurrentUser, UserProgId() + "\\shell\\print\\command", "",
      RegValue::String("\"" + plain_ + "\" /p \"%1\""));
  ASSERT_TRUE(
      Real().registry.Create(RootKey::CurrentUser, UserExt() + "\\OpenWithList\\" + AppName()));
  Set(RootKey::LocalMachine, kAppPaths + AppName(), "", RegValue::String(lang0_));
  // Machine-wide: only offered, its command an expandable string.
  const std::string folder = english_.substr(0, english_.rfind('\\'));
  ASSERT_TRUE(SetEnvironmentVariableA("KV_TEST_FIXTURES", folder.c_str()));
  Set(RootKey::LocalMachine, MachineExt() + "\\OpenWithProgids", "KorvanTestM." + tag_, none);
  Set(RootKey::LocalMachine, MachineProgId() + "\\shell\\open\\command", "",
      RegValue::Expand("\"%KV_TEST_FIXTURES%\\kv_fixture_lang0.exe\" \"%1\""));

  AssociationScanner scanner(Real(), {plain_ + ".missing", english_, lang0_});
  scanner.Scan();
  EXPECT_GE(scanner.LookupAppPath(AppName()), 0);

  const ExtensionEntry* user = Find(scanner, tag_);
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->Handlers,
            (std::vector<AssociationHandler>{
                {true, "view", "Korvan test file", {english_, "/view \"%1\""}, 1},
                {false, "open", "", {lang0_, ""}, 2}}));
  const ExtensionEntry* machine = Find(scanner, tag_ + "m");
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(machine->Handlers,
            (std::vector<AssociationHandler>{{false, "open", "", {lang0_, "\"%1\""}, 2}}));
}

}  // namespace
}  // namespace kv::inventory
