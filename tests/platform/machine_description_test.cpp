#include <gtest/gtest.h>

#include "platform/fake/fake_machine.h"
#include "platform/fake/machine_description.h"
#include "platform/pe_resources.h"

namespace kv::platform {
namespace {

constexpr const char* kDescription = R"({
  "folders": ["{ProgramFiles}\\Empty"],
  "executables": [
    {"path": "{ProgramFiles}\\Acme\\acme.exe", "size": 20000,
     "version": {"product": "3.1", "file": "3.1.4.1", "table": "040904E4",
                 "strings": [["ProductName", "Acme"], ["CompanyName", "Acme Ltd"]]},
     "icons": [[16, 32, 48], [24]]},
    {"path": "{System}\\notes.txt", "content": "hello"},
    {"path": "C:\\Tools\\plain.exe"}
  ],
  "shortcuts": [
    {"link": "{Programs}\\Acme\\Acme.lnk", "target": "{ProgramFiles}\\Acme\\acme.exe",
     "arguments": "/open {ProgramFiles}\\x {12345678-ABCD}", "last_write": "2025-03-01T10:00:00Z"},
    {"link": "{Desktop}\\Acme.lnk", "target": "C:\\x.exe", "last_write": 133853976000000000}
  ]
})";

TEST(MachineDescription, ReadsEveryPart) {
  const DescriptionResult r = ParseMachineDescription(kDescription);
  ASSERT_TRUE(r.ok) << r.error;
  const MachineDescription& d = r.description;
  ASSERT_EQ(d.folders.size(), 1u);
  ASSERT_EQ(d.executables.size(), 3u);
  const DescribedExecutable& acme = d.executables[0];
  EXPECT_EQ(acme.size, 20000u);
  ASSERT_TRUE(acme.version);
  EXPECT_EQ(acme.version->product[0], 3);
  EXPECT_EQ(acme.version->product[1], 1);
  EXPECT_EQ(acme.version->product[2], 0);
  EXPECT_EQ(acme.version->file[3], 1);
  ASSERT_EQ(acme.version->translations.size(), 1u);
  EXPECT_EQ(acme.version->translations[0].first, 0x0409);
  EXPECT_EQ(acme.version->translations[0].second, 0x04E4);
  ASSERT_EQ(acme.version->tables.size(), 1u);
  EXPECT_EQ(acme.version->tables[0].values[1].second, "Acme Ltd");
  EXPECT_EQ(acme.icons, (std::vector<std::vector<int>>{{16, 32, 48}, {24}}));
  EXPECT_EQ(d.executables[1].content, "hello");
  EXPECT_FALSE(d.executables[2].version);
  ASSERT_EQ(d.shortcuts.size(), 2u);
  EXPECT_EQ(d.shortcuts[0].last_write, FromCalendar({2025, 3, 1, 10, 0, 0, 0}));
  EXPECT_EQ(d.shortcuts[1].last_write, 133853976000000000u);
  EXPECT_EQ(d.shortcuts[1].arguments, "");
}

TEST(MachineDescription, MistakesAreNamed) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"shortcut": []})", "unknown key \"shortcut\""},
      {R"({"executables": [{"path": "a", "verison": {}}]})", "executable 0 has an unknown key"},
      {R"({"executables": [{"size": 1}]})", "executable 0 needs \"path\""},
      {R"({"executables": [{"path": 3}]})", "\"path\" has the wrong type"},
      {R"({"executables": [{"path": "a", "version": {"product": "1.x"}}]})", "bad \"product\""},
      {R"({"executables": [{"path": "a", "version": {"product": "1.70000"}}]})", "bad \"product\""},
      {R"({"executables": [{"path": "a", "version": {"product": "1.2.3.4.5"}}]})", "bad \"product\""},
      {R"({"executables": [{"path": "a", "version": {"table": "0409"}}]})", "bad \"table\""},
      {R"({"executables": [{"path": "a", "version": {"strings": [["a"]]}}]})", "pairs"},
      {R"({"executables": [{"path": "a", "content": "", "version": {}}]})", "both"},
      {R"({"executables": [{"path": "a", "content": "", "icons": [[16]]}]})", "both"},
      {R"({"executables": [{"path": "a", "icons": [16]}]})", "lists of sizes"},
      {R"({"executables": [{"path": "a", "icons": [[]]}]})", "lists of sizes"},
      {R"({"executables": [{"path": "a", "icons": [[0]]}]})", "from 1 to 256"},
      {R"({"executables": [{"path": "a", "icons": [[257]]}]})", "from 1 to 256"},
      {R"({"executables": [{"path": "a", "icons": [[-16]]}]})", "from 1 to 256"},
      {R"({"executables": [{"path": "a", "icons": [["16"]]}]})", "from 1 to 256"},
      {R"({"executables": [{"path": "a", "icons": {}}]})", "\"icons\" has the wrong type"},
      {R"({"shortcuts": [{"link": "a.lnk"}]})", "shortcut 0 needs \"target\""},
      {R"({"shortcuts": [{"link": "a.lnk", "target": "", "last_write": "2025-13-01T10:00:00Z"}]})",
       "bad \"last_write\""},
      {R"({"shortcuts": [{"link": "a.lnk", "target": "", "last_write": -5}]})", "bad \"last_write\""},
      {R"({"folders": [""]})", "non-empty"},
      {R"([])", "not an object"},
  };
  std::string many = R"({"executables": [{"path": "a", "icons": [[1)";
  for (int i = 0; i < 32; ++i) many += ", 1";
  many += "]]}]}";
  const DescriptionResult too_many = ParseMachineDescription(many);
  EXPECT_FALSE(too_many.ok);
  EXPECT_NE(too_many.error.find("more than 32 icon images"), std::string::npos) << too_many.error;
  for (const auto& [json, why] : cases) {
    const DescriptionResult r = ParseMachineDescription(json);
    EXPECT_FALSE(r.ok) << json;
    EXPECT_NE(r.error.find(why), std::string::npos) << json << " -> " << r.error;
  }
}

TEST(MachineDescription, PlaceholdersBecomeTheShellsFolders) {
  FakeMachine m;
  EXPECT_EQ(ExpandFolderPlaceholders("{ProgramFiles}\\A", m.shell), "C:\\Program Files\\A");
  EXPECT_EQ(ExpandFolderPlaceholders("\"{LocalAppData}\\Q\\q.exe\" /x", m.shell),
            "\"C:\\Users\\user\\AppData\\Local\\Q\\q.exe\" /x");
  // GUIDs, unknown names and an unclosed brace stay as they are.
  EXPECT_EQ(ExpandFolderPlaceholders("/X{8A1C-42} {Foo} {Programs", m.shell),
            "/X{8A1C-42} {Foo} {Programs");
  EXPECT_EQ(ExpandFolderPlaceholders("{{System}}", m.shell), "{C:\\Windows\\system32}");
  m.shell.SetFolder(SpecialFolder::CommonDesktop, std::nullopt);
  EXPECT_EQ(ExpandFolderPlaceholders("{CommonDesktop}\\a", m.shell), "{CommonDesktop}\\a");
}

TEST(MachineDescription, AppliedToAFakeMachine) {
  const DescriptionResult r = ParseMachineDescription(kDescription);
  ASSERT_TRUE(r.ok) << r.error;
  FakeMachine m;
  ApplyToFakeMachine(r.description, m.files, m.shell);

  EXPECT_TRUE(m.files.IsDirectory("C:\\Program Files\\Empty"));
  const std::string exe = "C:\\Program Files\\Acme\\acme.exe";
  auto image = m.files.ReadAll(exe);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), 20000u);  // padded
  EXPECT_EQ(m.shell.ReadVersionResource(exe),
            BuildVersionBlock(*r.description.executables[0].version));
  // One group per list, ids from 1.
  auto large = m.shell.ExtractFileIcon(exe, -2, IconSize::Large);
  ASSERT_TRUE(large);
  EXPECT_EQ(static_cast<FakeIcon&>(*large).image().width, 24);
  auto small = m.shell.ExtractFileIcon(exe, 0, IconSize::Small);
  ASSERT_TRUE(small);
  EXPECT_EQ(static_cast<FakeIcon&>(*small).image().width, 16);
  EXPECT_FALSE(m.shell.ExtractFileIcon(exe, 2, IconSize::Small));
  EXPECT_EQ(m.files.ReadAll("C:\\Windows\\system32\\notes.txt"), "hello");
  auto plain = m.files.ReadAll("C:\\Tools\\plain.exe");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->substr(0, 2), "MZ");
  EXPECT_FALSE(m.shell.ReadVersionResource("C:\\Tools\\plain.exe"));
  EXPECT_FALSE(m.shell.ExtractFileIcon("C:\\Tools\\plain.exe", 0, IconSize::Large));

  const std::string link =
      "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Acme\\Acme.lnk";
  auto target = m.shell.ReadShellLink(link);
  ASSERT_TRUE(target);
  EXPECT_EQ(target->path, exe);
  EXPECT_EQ(target->arguments, "/open C:\\Program Files\\x {12345678-ABCD}");
  EXPECT_EQ(m.files.GetInfo(link)->last_write, FromCalendar({2025, 3, 1, 10, 0, 0, 0}));
  EXPECT_EQ(m.files.GetInfo("C:\\Users\\user\\Desktop\\Acme.lnk")->last_write,
            133853976000000000u);
}

TEST(MachineDescription, RegistryIsCopiedWithPlaceholdersExpanded) {
  FakeMachine from;
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Q";
  from.registry.Write(RootKey::CurrentUser, uninstall, "UninstallString",
                      RegValue::String("\"{LocalAppData}\\Q\\u.exe\" /X{1-2}"));
  from.registry.Write(RootKey::CurrentUser, uninstall, "Count", RegValue::Dword(7));
  from.registry.Write(RootKey::CurrentUser, uninstall, "Path", RegValue::Expand("{System}"));
  from.registry.Write(RootKey::LocalMachine, uninstall, "DisplayName", RegValue::String("A"),
                      RegView::View32);
  from.registry.Create(RootKey::ClassesRoot, "Empty\\Key");

  FakeMachine to;
  EXPECT_EQ(CopyRegistryExpanded(from.registry, to.registry, to.shell), 4);
  EXPECT_EQ(to.registry.ReadString(RootKey::CurrentUser, uninstall, "UninstallString"),
            "\"C:\\Users\\user\\AppData\\Local\\Q\\u.exe\" /X{1-2}");
  EXPECT_EQ(to.registry.ReadDword(RootKey::CurrentUser, uninstall, "Count"), 7u);
  auto path = to.registry.Open(RootKey::CurrentUser, uninstall)->Read("Path");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->type, RegType::ExpandString);
  EXPECT_EQ(path->text, "C:\\Windows\\system32");
  EXPECT_EQ(to.registry.ReadString(RootKey::LocalMachine, uninstall, "DisplayName",
                                   RegView::View32),
            "A");
  EXPECT_FALSE(to.registry.ReadString(RootKey::LocalMachine, uninstall, "DisplayName",
                                      RegView::View64));
  EXPECT_TRUE(to.registry.Open(RootKey::ClassesRoot, "Empty\\Key"));

  // In place, as the native replay does after loading the exports.
  EXPECT_EQ(CopyRegistryExpanded(from.registry, from.registry, from.shell), 4);
  EXPECT_EQ(from.registry.ReadString(RootKey::CurrentUser, uninstall, "UninstallString"),
            "\"C:\\Users\\user\\AppData\\Local\\Q\\u.exe\" /X{1-2}");

  to.registry.SetReadOnly(true);
  const Result<int> refused = CopyRegistryExpanded(from.registry, to.registry, to.shell);
  EXPECT_TRUE(refused.status().Is(ErrorKind::AccessDenied)) << refused.status().ToString();
}

}  // namespace
}  // namespace kv::platform
