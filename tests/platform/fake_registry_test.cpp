#include <gtest/gtest.h>

#include "platform/fake/fake_machine.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/reg_file.h"
#include "text/utf8.h"

namespace kv::platform {
namespace {

TEST(FakeRegistry, NamesAreCaseInsensitiveAndValuesKeepTheirOrder) {
  FakeRegistry reg;
  auto key = reg.Create(RootKey::CurrentUser, "Software\\Acme\\App");
  key->Write("b", RegValue::String("2"));
  key->Write("A", RegValue::Dword(1));
  key->Write("B", RegValue::String("3"));  // replaces "b"
  auto again = reg.Open(RootKey::CurrentUser, "SOFTWARE\\acme\\app");
  ASSERT_NE(again, nullptr);
  auto values = again->Values();
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, "b");
  EXPECT_EQ(values[0].value.text, "3");
  EXPECT_EQ(again->ReadDword("a"), 1u);
  EXPECT_FALSE(again->ReadString("a").has_value());  // a DWORD is not a string
}

TEST(FakeRegistry, ThirtyTwoBitViewOfHklmSoftwareIsWow6432Node) {
  FakeRegistry reg;
  reg.Write(RootKey::LocalMachine, "Software\\Acme", "V", RegValue::String("32"), RegView::View32);
  EXPECT_TRUE(reg.ReadString(RootKey::LocalMachine, "Software\\WOW6432Node\\Acme", "V"));
  EXPECT_FALSE(reg.ReadString(RootKey::LocalMachine, "Software\\Acme", "V"));
  EXPECT_FALSE(reg.ReadString(RootKey::LocalMachine, "Software\\Acme", "V", RegView::View64));
  // HKCU is shared between the views.
  reg.Write(RootKey::CurrentUser, "Software\\Acme", "V", RegValue::String("u"), RegView::View32);
  EXPECT_EQ(reg.ReadString(RootKey::CurrentUser, "Software\\Acme", "V"), "u");
}

TEST(FakeRegistry, ReadOnlyKeysRefuseWritesAndDeleteTreeRemovesChildren) {
  FakeRegistry reg;
  reg.Write(RootKey::CurrentUser, "A\\B\\C", "x", RegValue::Dword(1));
  auto ro = reg.Open(RootKey::CurrentUser, "A\\B");
  const Status refused = ro->Write("y", RegValue::Dword(2));
  EXPECT_TRUE(refused.Is(ErrorKind::AccessDenied));
  EXPECT_EQ(refused.message(), "HKEY_CURRENT_USER\\A\\B");
  EXPECT_TRUE(reg.DeleteTree(RootKey::CurrentUser, "a\\b"));
  const auto gone = reg.Open(RootKey::CurrentUser, "A\\B\\C");
  EXPECT_EQ(gone, nullptr);
  EXPECT_TRUE(gone.status().Is(ErrorKind::NotFound));
  EXPECT_EQ(gone.status().message(), "HKEY_CURRENT_USER\\A\\B\\C");
  EXPECT_NE(reg.Open(RootKey::CurrentUser, "A"), nullptr);
  EXPECT_TRUE(reg.DeleteTree(RootKey::CurrentUser, "A\\B").Is(ErrorKind::NotFound));
  reg.SetReadOnly(true);
  EXPECT_TRUE(reg.Create(RootKey::CurrentUser, "New").status().Is(ErrorKind::AccessDenied));
  EXPECT_TRUE(reg.DeleteTree(RootKey::CurrentUser, "A").Is(ErrorKind::AccessDenied));
}

std::string Utf16Le(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text::ToUtf16(utf8)) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

constexpr char kExport[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zipper]\r\n"
    "\"DisplayName\"=\"Zipper 11.1 (remove only)\"\r\n"
    "\"UninstallString\"=\"\\\"C:\\\\Program Files\\\\Zipper\\\\uninst.exe\\\"\"\r\n"
    "\"NoModify\"=dword:00000001\r\n"
    "\"InstallLocation\"=hex(2):43,00,3a,00,5c,00,\\\r\n"
    "  5a,00,00,00\r\n"
    "@=\"d\xC3\xA9" "faut\"\r\n"
    "\r\n"
    "[HKEY_USERS\\.DEFAULT\\Ignored]\r\n"
    "\"X\"=\"y\"\r\n";

TEST(RegFile, LoadsUtf16AndUtf8ExportsAlike) {
  for (const std::string& content : {std::string(kExport), Utf16Le(kExport)}) {
    FakeRegistry reg;
    const auto r = LoadRegFile(reg, content);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.keys, 1);
    auto key = reg.Open(RootKey::LocalMachine,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zipper");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->ReadString("DisplayName"), "Zipper 11.1 (remove only)");
    EXPECT_EQ(key->ReadString("UninstallString"), "\"C:\\Program Files\\Zipper\\uninst.exe\"");
    EXPECT_EQ(key->ReadDword("NoModify"), 1u);
    auto loc = key->Read("InstallLocation");
    ASSERT_TRUE(loc);
    EXPECT_EQ(loc->type, RegType::ExpandString);
    EXPECT_EQ(loc->text, "C:\\Z");
    EXPECT_EQ(key->ReadString(""), "d\xC3\xA9" "faut");
  }
}

TEST(RegFile, Regedit4HexStringsAreBytesNotUtf16) {
  FakeRegistry reg;
  const auto r = LoadRegFile(reg,
                             "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\A]\n"
                             "\"P\"=hex(2):25,50,25,00\n\"Q\"=\"caf\xE9\"\n");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(reg.ReadString(RootKey::CurrentUser, "Software\\A", "P"), "%P%");
  EXPECT_EQ(reg.ReadString(RootKey::CurrentUser, "Software\\A", "Q"), "caf\xC3\xA9");  // Latin-1
}

TEST(RegFile, TypedHexValuesKeepTheirTypes) {
  FakeRegistry reg;
  const auto r = LoadRegFile(reg,
                             "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n"
                             "\"S\"=hex(1):46,00,6f,00,6f,00,20,00,41,00,00,00\n"
                             "\"D\"=hex(4):01,02,00,00\n\"B\"=hex(5):00,00,01,02\n");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(reg.ReadString(RootKey::CurrentUser, "A", "S"), "Foo A");
  EXPECT_EQ(reg.ReadDword(RootKey::CurrentUser, "A", "D"), 0x201u);
  EXPECT_EQ(reg.ReadDword(RootKey::CurrentUser, "A", "B"), 0x102u);
}

TEST(RegFile, ACommentEndingInABackslashDoesNotSwallowTheNextLine) {
  FakeRegistry reg;
  const auto r = LoadRegFile(reg,
                             "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"a\"\n"
                             "; old path C:\\Temp\\\n[HKEY_CURRENT_USER\\B]\n\"v\"=\"b\"\n");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(reg.ReadString(RootKey::CurrentUser, "A", "v"), "a");
  EXPECT_EQ(reg.ReadString(RootKey::CurrentUser, "B", "v"), "b");
}

TEST(RegFile, DeletionsAndErrorsAreReported) {
  FakeRegistry reg;
  reg.Write(RootKey::CurrentUser, "Software\\Gone\\Sub", "v", RegValue::Dword(1));
  reg.Write(RootKey::CurrentUser, "Software\\Keep", "v", RegValue::Dword(1));
  auto r = LoadRegFile(reg,
                       "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\Software\\Gone]\n"
                       "[HKEY_CURRENT_USER\\Software\\Keep]\n\"v\"=-\n");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(reg.Open(RootKey::CurrentUser, "Software\\Gone"), nullptr);
  EXPECT_FALSE(reg.ReadDword(RootKey::CurrentUser, "Software\\Keep", "v"));

  r = LoadRegFile(reg, "not an export");
  EXPECT_FALSE(r.ok);
  r = LoadRegFile(reg, "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:xyz\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "line 3: bad dword");
  r = LoadRegFile(reg, "");
  EXPECT_FALSE(r.ok);
}

// Times as Windows keeps them: a value change stamps its key, a subkey
// created or deleted stamps the parent, and nothing reaches further up.
TEST(FakeRegistry, KeysCarryTheLastWriteTimeOfTheMachineClock) {
  FakeMachine m;
  FakeRegistry& reg = m.registry;
  auto time_of = [&](const char* parent, const char* name) -> FileTime {
    for (const SubKeyInfo& k : reg.Open(RootKey::CurrentUser, parent)->SubKeys())
      if (k.name == name) return k.last_write;
    ADD_FAILURE() << name;
    return 0;
  };
  const FileTime t0 = m.clock.NowUtc();
  reg.Write(RootKey::CurrentUser, "A\\B\\C", "x", RegValue::Dword(1));
  EXPECT_EQ(time_of("A", "B"), t0);
  EXPECT_EQ(time_of("A\\B", "C"), t0);

  m.clock.Advance(10);
  reg.Write(RootKey::CurrentUser, "A\\B\\C", "x", RegValue::Dword(1));  // same value
  EXPECT_EQ(time_of("A\\B", "C"), t0 + 10);
  EXPECT_EQ(time_of("A", "B"), t0);  // a value below does not stamp the parent

  m.clock.Advance(10);
  reg.Write(RootKey::CurrentUser, "A\\B\\D", "y", RegValue::Dword(2));
  EXPECT_EQ(time_of("A", "B"), t0 + 20);
  EXPECT_EQ(time_of("A\\B", "C"), t0 + 10);  // a sibling is not touched

  m.clock.Advance(10);
  reg.DeleteValue(RootKey::CurrentUser, "A\\B\\C", "x");
  EXPECT_EQ(time_of("A\\B", "C"), t0 + 30);
  EXPECT_FALSE(reg.DeleteValue(RootKey::CurrentUser, "A\\B\\C", "x"));
  EXPECT_EQ(time_of("A\\B", "C"), t0 + 30);  // nothing deleted, nothing stamped

  m.clock.Advance(10);
  reg.DeleteTree(RootKey::CurrentUser, "A\\B\\D");
  EXPECT_EQ(time_of("A", "B"), t0 + 40);
  // An export replayed into the machine is stamped like any other write.
  ASSERT_TRUE(LoadRegFile(reg, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A\\E]\r\n\"v\"=\"1\"\r\n").ok);
  EXPECT_EQ(time_of("A", "E"), t0 + 40);

  FakeRegistry no_clock;
  no_clock.Write(RootKey::CurrentUser, "A\\B", "x", RegValue::Dword(1));
  EXPECT_EQ(no_clock.Open(RootKey::CurrentUser, "A")->SubKeys().at(0).last_write, 0u);
}

}  // namespace
}  // namespace kv::platform
