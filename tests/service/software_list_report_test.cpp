#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "service/report_environment.h"
#include "service/software_list_store.h"

namespace kv::service {
namespace {

using platform::RegValue;
using platform::RootKey;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class ReportTest : public ::testing::Test {
 protected:
  void Install(const std::string& id, const std::string& name, const std::string& version) {
    const std::string key = kUninstall + id;
    const std::string dir = "C:\\Program Files\\" + id + "\\";
    m.files.AddFile(dir + id + ".exe", "MZ");
    m.files.AddFile(dir + "uninst.exe", "MZ");
    m.registry.Write(RootKey::LocalMachine, key, "UninstallString",
                     RegValue::String("\"" + dir + "uninst.exe\""));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayName", RegValue::String(name));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayVersion", RegValue::String(version));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayIcon", RegValue::String(dir + id + ".exe"));
    const std::string programs = *m.shell.GetFolder(platform::SpecialFolder::Programs);
    m.shell.AddShortcut(programs + "\\" + name + "\\" + name + ".lnk", dir + id + ".exe");
  }
  SoftwarePtr Program(const std::string& local_id) {
    const int i = store.FindByLocalId(local_id);
    return i < 0 ? nullptr : store.At(static_cast<std::size_t>(i));
  }
  static void Version(inventory::ProgramVersion& v, const char* text) {
    inventory::ParseVersion(text, v);
  }
  // The identifiers the report asks the service to forget.
  std::string IdList() {
    const std::string doc = store.BuildReport({});
    const std::size_t start = doc.find("<ProgramIdList>") + 15;
    return doc.substr(start, doc.find("</ProgramIdList>") - start);
  }

  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  app::ProgressRange range;
  app::ProgressTracker progress{range};
  SoftwareListStore store{m.machine, folder, progress};
};

TEST_F(ReportTest, TheDocumentIsWrittenExactly) {
  Install("Alpha", "Alpha Editor", "1.5");
  Install("Beta", "Beta Tool", "2.0");
  ASSERT_TRUE(store.Refresh());
  SoftwarePtr alpha = Program("Alpha"), beta = Program("Beta");
  ASSERT_TRUE(alpha && beta && alpha->rti.Entry);
  alpha->Name = "Alpha Editor";
  alpha->Publisher = "Acme & Sons";
  alpha->State = state::kVersionChanged;
  alpha->VerInstalledIsStableRelease = false;
  alpha->rti.SoftName_old = "Alpha";
  alpha->rti.Entry->HelpLink = "http://help.example/?a=1&b=2";
  alpha->rti.ExeFileSize = 123456;
  auto description = std::make_shared<inventory::FileVersionInfo>();
  description->FileDescription = "Alpha <editor>";
  alpha->rti.LiveFileInfo = description;
  // Found without an uninstall entry: the short form; no BetaRelease without 0x40.
  beta->rti.Entry.reset();
  beta->Name = "Beta Tool";
  beta->Publisher = "";
  beta->State = 0;

  ReportEnvironment env;
  env.client_version = "1.0";
  env.client_build = "17";
  env.os_name = "Microsoft\xC2\xAE Windows\xC2\xAE Operating System";
  env.os_version = "10.0.19041.1";
  env.os_company = "Microsoft Corporation";
  env.locale_id = "0409";
  env.language = "ENU";
  env.folders = {"C:\\Windows\\", "C:\\Program Files\\", "C:\\Windows\\system32\\"};

  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<KV>\r\n"
      "<Client>\r\n"
      " <Version>1.0</Version>\r\n"
      " <Build>17</Build>\r\n"
      "</Client>\r\n"
      "<OSInfo>\r\n"
      " <Name>Microsoft\xC2\xAE Windows\xC2\xAE Operating System</Name>\r\n"
      " <Version>10.0.19041.1</Version>\r\n"
      " <CompanyName>Microsoft Corporation</CompanyName>\r\n"
      " <LocaleId>0409</LocaleId>\r\n"
      " <AbbrevLangName>ENU</AbbrevLangName>\r\n"
      "  <SystemFolders>\r\n"
      "   <OS>C:\\Windows\\</OS>\r\n"
      "   <Sys32>C:\\Windows\\system32\\</Sys32>\r\n"
      "   <PF>C:\\Program Files\\</PF>\r\n"
      "  </SystemFolders>\r\n"
      "</OSInfo>\r\n"
      "<UserSoftware>\r\n"
      " <Programs>\r\n"
      "  <Program>\r\n"
      "   <Name>Alpha Editor</Name>\r\n"
      "   <Name_old>Alpha</Name_old>\r\n"
      "   <Version>1.5</Version>\r\n"
      "   <BetaRelease>true</BetaRelease>\r\n"
      "   <DisplayName>Alpha Editor</DisplayName>\r\n"
      "   <DisplayVersion>1.5</DisplayVersion>\r\n"
      "   <HelpLink>http://help.example/?a=1&amp;b=2</HelpLink>\r\n"
      "   <Publisher>Acme &amp; Sons</Publisher>\r\n"
      "   <URLInfoAbout></URLInfoAbout>\r\n"
      "   <URLUpdateInfo></URLUpdateInfo>\r\n"
      "   <BinaryFilePath>C:\\Program Files\\Alpha\\Alpha.exe</BinaryFilePath>\r\n"
      "   <BinaryFileSize>123456</BinaryFileSize>\r\n"
      "   <BinaryFileDescription>Alpha &lt;editor></BinaryFileDescription>\r\n"
      "  </Program>\r\n"
      "  <Program>\r\n"
      "   <Name>Beta Tool</Name>\r\n"
      "   <Version>2.0</Version>\r\n"
      "   <Publisher></Publisher>\r\n"
      "  </Program>\r\n"
      " </Programs>\r\n"
      " <WasUninstalled>\r\n"
      "  <ProgramIdList>  </ProgramIdList>\r\n"
      " </WasUninstalled>\r\n"
      "</UserSoftware>\r\n"
      "</KV>\r\n";
  EXPECT_EQ(store.BuildReport(env), expected);
}

TEST_F(ReportTest, WhichProgramsAndIdentifiersAreReported) {
  EXPECT_FALSE(store.HasSomethingToReport());  // an empty list
  Install("A", "A", "1.0");
  Install("B", "B", "2.0");
  Install("C", "C", "3.0");
  Install("Gone1", "Gone1", "1.0");
  Install("Gone2", "Gone2", "1.0");
  ASSERT_TRUE(store.Refresh());
  ASSERT_EQ(store.Count(), 5u);
  EXPECT_TRUE(store.HasSomethingToReport());  // nothing is on the service yet

  // The service knows every program at its installed version.
  for (std::size_t i = 0; i < store.Count(); ++i) {
    SoftwarePtr p = store.At(i);
    p->VerOnServer = p->VerInstalled;
    p->GlobalId = std::to_string(10 + 2 * i);
  }
  EXPECT_FALSE(store.HasSomethingToReport());
  EXPECT_EQ(store.BuildReport({}).find("<Program>"), std::string::npos);

  // Two removed programs: their identifiers joined, the two blanks kept.
  const std::string gone1 = Program("Gone1")->GlobalId, gone2 = Program("Gone2")->GlobalId;
  m.registry.DeleteTree(RootKey::LocalMachine, std::string(kUninstall) + "Gone1");
  m.registry.DeleteTree(RootKey::LocalMachine, std::string(kUninstall) + "Gone2");
  ASSERT_TRUE(store.Refresh());
  ASSERT_EQ(store.Removed().size(), 2u);
  EXPECT_TRUE(store.HasSomethingToReport());
  EXPECT_EQ(IdList(), gone1 + "," + gone2 + "  ");

  // Unmatched identifiers first; an upgraded program is reported and its
  // old identity forgotten; "3.0" and "3.00.1" differ, suffixes do not count.
  store.set_unmatched_ids({"7", "8"});
  SoftwarePtr a = Program("A"), b = Program("B"), c = Program("C");
  Version(a->VerOnServer, "0.9");
  Version(b->VerOnServer, "2.0 beta");
  Version(c->VerOnServer, "3.00.1");
  EXPECT_EQ(IdList(), "7,8," + a->GlobalId + "," + c->GlobalId + "," + gone1 + "," + gone2 + "  ");
  const std::string doc = store.BuildReport({});
  EXPECT_NE(doc.find("<Name>A</Name>"), std::string::npos);
  EXPECT_EQ(doc.find("<Name>B</Name>"), std::string::npos);
  EXPECT_NE(doc.find("<Name>C</Name>"), std::string::npos);

  // A program without an identifier gives none; an empty server version only reports.
  c->GlobalId.clear();
  a->VerOnServer.Clear();
  EXPECT_EQ(IdList(), "7,8," + gone1 + "," + gone2 + "  ");
}

TEST(ReportEnvironment, TheSystemIsDescribedByNotepad) {
  platform::FakeMachine m;
  platform::VersionSpec version;
  version.product[0] = 10;
  version.product[2] = 19041;
  version.tables = {{"040904b0",
                  {{"ProductName", "Microsoft Windows Operating System"},
                   {"CompanyName", "Microsoft Corporation"}}}};
  const std::string block = platform::BuildVersionBlock(version);
  m.files.MakeDirectory("C:\\Windows\\system");
  m.files.AddFile("C:\\Windows\\system\\notepad.exe", platform::BuildPeImage(&block));
  m.shell.SetUserLocale({"0407", "DEU"});
  ReportEnvironment env = ReadReportEnvironment(m.machine);
  // system32 has no notepad here: the old "system" folder stands in.
  EXPECT_EQ(env.os_name, "Microsoft Windows Operating System");
  EXPECT_EQ(env.os_company, "Microsoft Corporation");
  EXPECT_EQ(env.os_version, "10.0.19041");
  EXPECT_EQ(env.locale_id, "0407");
  EXPECT_EQ(env.language, "DEU");
  EXPECT_EQ(env.folders.windows, "C:\\Windows\\");
}

}  // namespace
}  // namespace kv::service
