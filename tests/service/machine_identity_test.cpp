#include "service/machine_identity.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_machine.h"
#include "service/site_stats.h"
#include "store/xml_store.h"

namespace kv::service {
namespace {

class IdentityTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return folder.GetDataFilePath(name); }
  std::string Read(const char* name) { return m.files.ReadAll(Path(name)).value_or("<missing>"); }

  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
};

TEST_F(IdentityTest, AFreshFolderGetsOneIdentifierForGood) {
  {
    MachineIdentity identity(folder);
    identity.Load();
    EXPECT_EQ(identity.GUID(), "00000000000040008000000000000001");
    EXPECT_EQ(identity.Name(), "");
  }
  const std::string file = Read("kvapp.xml");
  EXPECT_NE(file.find("<Machine>"), std::string::npos) << file;
  EXPECT_LT(file.find("<Name></Name>"), file.find("<GUID>00000000000040008000000000000001</GUID>"))
      << file;
  // The next start reads it and makes none.
  MachineIdentity again(folder);
  again.Load();
  EXPECT_EQ(again.GUID(), "00000000000040008000000000000001");
  EXPECT_EQ(m.ids.guids_made(), 1);
  EXPECT_EQ(Read("kvapp.xml"), file);
}

TEST_F(IdentityTest, AKeptFileIsReadAsItIsEvenWithAnEmptyIdentifier) {
  const std::string kept =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Machine>\r\n <Name>LAB-7</Name>\r\n"
      " <GUID></GUID>\r\n</Machine>\r\n";
  m.files.AddFile(Path("kvapp.xml"), kept);
  MachineIdentity identity(folder);
  identity.Load();
  EXPECT_EQ(identity.GUID(), "");
  EXPECT_EQ(identity.Name(), "LAB-7");
  EXPECT_EQ(m.ids.guids_made(), 0);
  EXPECT_EQ(Read("kvapp.xml"), kept);

  // An interrupted save left only the ".bak": that is the identity.
  platform::FakeMachine other;
  app::DataFolder other_folder{other.machine};
  other.files.AddFile(other_folder.GetDataFilePath("kvapp.xml.bak"),
                      "<Machine><Name/><GUID>6F9619FF8B86D011B42D00C04FC964FF</GUID></Machine>");
  MachineIdentity restored(other_folder);
  restored.Load();
  EXPECT_EQ(restored.GUID(), "6F9619FF8B86D011B42D00C04FC964FF");
  EXPECT_EQ(other.ids.guids_made(), 0);
}

TEST_F(IdentityTest, ABrokenFileIsNoReasonForASecondIdentifier) {
  m.files.AddFile(Path("kvapp.xml"), "<Machine><GUID>6F9619FF8B86");  // cut off
  MachineIdentity identity(folder);
  identity.Load();
  EXPECT_EQ(identity.GUID(), "");
  EXPECT_EQ(m.ids.guids_made(), 0);
}

TEST_F(IdentityTest, NoIdentifierWhenTheSystemCannotMakeOne) {
  m.ids.SetGuidFailure(true);
  MachineIdentity identity(folder);
  identity.Load();
  EXPECT_EQ(identity.GUID(), "");
  EXPECT_FALSE(m.files.Exists(Path("kvapp.xml")));  // the next start tries again
  EXPECT_EQ(MachineIdFromRegistryGuid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
            "6F9619FF8B86D011B42D00C04FC964FF");
}

TEST_F(IdentityTest, SiteStatsComeFromAnswersAndSurviveARestart) {
  {
    SiteStats stats(folder);
    stats.Load();
    EXPECT_EQ(stats.totals().programs, -1);  // never loaded
    auto answer = store::XmlDocument::Parse(
        "<KV><Server><Stats><TotalNumberOfPrograms>382</TotalNumberOfPrograms>"
        "<totalnumberofusers>12</totalnumberofusers><NumberOfNews>3</NumberOfNews>"
        "</Stats></Server></KV>");
    ASSERT_TRUE(answer);
    stats.ReadServerElement(*answer->Find("KV/Server"));
    // A later answer naming fewer totals changes only those.
    auto later = store::XmlDocument::Parse(
        "<KV><Server><Stats><TotalNumberOfDevelopers>40</TotalNumberOfDevelopers></Stats></Server></KV>");
    stats.ReadServerElement(*later->Find("KV/Server"));
    stats.Save();
  }
  const std::string file = Read("server.xml");
  EXPECT_LT(file.find("<TotalNumberOfPrograms>382<"), file.find("<TotalNumberOfDevelopers>40<"));
  EXPECT_LT(file.find("<TotalNumberOfDevelopers>40<"), file.find("<TotalNumberOfUsers>12<"));
  EXPECT_LT(file.find("<TotalNumberOfUsers>12<"), file.find("<NumberOfNews>3<"));
  SiteStats again(folder);
  again.Load();
  const SiteTotals t = again.totals();
  EXPECT_EQ(t.programs, 382);
  EXPECT_EQ(t.developers, 40);
  EXPECT_EQ(t.users, 12);
  EXPECT_EQ(t.news, 3);
}

}  // namespace
}  // namespace kv::service
