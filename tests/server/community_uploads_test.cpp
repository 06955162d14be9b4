// The software list's uploads against korvan-service: what the client sends
// reaches the database, once.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "loopback_service.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "service/report_environment.h"
#include "service/software_list_store.h"

namespace kv::server {
namespace {

using platform::RegValue;
using platform::RootKey;
using service::SoftwarePtr;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class CommunityUploadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(loop_.Start());
    service::FormPoster form(loop_.http());
    form.AddField("client_build", "17");
    form.AddField("GUID", std::string(32, 'B'));
    service::RequestOutcome o;
    auto doc = loop_.connection().Exchange(service::RequestMode::AddGuest, form, o);
    ASSERT_TRUE(doc) << o.Text();
    session_.emplace(service::UploadSession{
        loop_.connection(),
        {doc->Find("KV/User/Id")->Text(), std::string(32, 'B'), "",
         doc->Find("KV/User/Password")->Text()},
        "17"});

    for (const char* name : {"Alpha", "Beta"}) Install(name);
    ASSERT_TRUE(store_.Refresh());
    env_ = service::ReadReportEnvironment(m.machine);
    // The report gives the programs their identifiers; the service has no
    // icon for them yet.
    auto answer = loop_.connection().SendDocument(service::RequestMode::AddPrograms,
                                                  session_->identity, "17",
                                                  store_.BuildReport(env_), outcome_);
    ASSERT_TRUE(answer) << outcome_.Text();
    for (const store::XmlElement p : answer->Find("KV/Programs")->Children()) {
      const int i = store_.FindByLocalId(*p.Attribute("N"));
      ASSERT_GE(i, 0) << *p.Attribute("N");
      SoftwarePtr program = store_.At(static_cast<std::size_t>(i));
      program->GlobalId = *p.Attribute("ID");
      if (p.Attribute("I") == "0") program->State |= service::state::kIconWanted;
    }
  }

  void Install(const std::string& name) {
    const std::string exe = "C:\\Program Files\\" + name + "\\" + name + ".exe";
    m.files.AddFile(exe, platform::BuildPeImage(nullptr, {{1, "", {16, 32}}}));
    const std::string key = kUninstall + name;
    m.registry.Write(RootKey::LocalMachine, key, "DisplayName", RegValue::String(name));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayVersion", RegValue::String("2.0"));
    m.registry.Write(RootKey::LocalMachine, key, "Publisher", RegValue::String("Acme"));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayIcon", RegValue::String(exe));
    m.files.AddFile("C:\\Program Files\\" + name + "\\uninst.exe", "MZ");
    m.registry.Write(RootKey::LocalMachine, key, "UninstallString",
                     RegValue::String("C:\\Program Files\\" + name + "\\uninst.exe"));
    const std::string programs = *m.shell.GetFolder(platform::SpecialFolder::Programs);
    m.shell.AddShortcut(programs + "\\" + name + ".lnk", exe);
  }
  SoftwarePtr Program(const std::string& name) {
    return store_.At(static_cast<std::size_t>(store_.FindByLocalId(name)));
  }
  std::string Query(const std::string& sql) { return loop_.Query(sql); }

  LoopbackService loop_;
  platform::FakeMachine m;
  app::DataFolder folder_{m.machine};
  app::ProgressRange range_;
  app::ProgressTracker progress_{range_};
  service::SoftwareListStore store_{m.machine, folder_, progress_};
  std::optional<service::UploadSession> session_;  // once the service runs
  service::ReportEnvironment env_;
  service::RequestOutcome outcome_;
};

TEST_F(CommunityUploadsTest, IconsReachTheService) {
  ASSERT_TRUE(Program("Alpha")->State & service::state::kIconWanted);
  ASSERT_TRUE(store_.UploadAllIcons(*session_, outcome_)) << outcome_.Text();
  // Both passed the service's own icon check.
  EXPECT_EQ(Query("SELECT program_id FROM icons ORDER BY program_id"),
            Program("Alpha")->GlobalId + "|" + Program("Beta")->GlobalId);
  EXPECT_FALSE(store_.FirstProgramNeedingIcon());
}

TEST_F(CommunityUploadsTest, CommentsAndRatingsReachTheServiceOnce) {
  const std::size_t alpha = static_cast<std::size_t>(store_.FindByLocalId("Alpha"));
  ASSERT_TRUE(store_.WriteComment(alpha, {true, "Works well.\r\nFast, too & small.", 4, false, false}));
  Program("Beta")->UserRating = 2;
  ASSERT_TRUE(store_.SendComments(*session_, outcome_)) << outcome_.Text();
  ASSERT_TRUE(store_.SendRatings(*session_, outcome_)) << outcome_.Text();
  EXPECT_EQ(Query("SELECT body FROM comments"), "Works well.\r\nFast, too & small.");
  EXPECT_EQ(Query("SELECT rating FROM ratings ORDER BY program_id"), "4|2");
  EXPECT_EQ(Program("Alpha")->UserRatingOnServer, 4);
  EXPECT_EQ(Program("Alpha")->RatingsCount, 1);

  // Nothing is pending any more: nothing more reaches the service.
  bool nothing_sent = false;
  ASSERT_TRUE(store_.SendComments(*session_, outcome_));
  ASSERT_TRUE(store_.SendRatings(*session_, outcome_, nullptr, &nothing_sent));
  EXPECT_TRUE(nothing_sent);
  EXPECT_EQ(Query("SELECT count(*) FROM comments"), "1");

  // A comment the service refuses for good leaves the queue with its message.
  store_.WriteComment(alpha, {true, std::string(5000, 'x'), 0, false, false});
  EXPECT_FALSE(store_.SendComments(*session_, outcome_));
  EXPECT_EQ(outcome_.Text(), "Your comment is too long.");
  EXPECT_TRUE(store_.QueuedComments().empty());
}

TEST_F(CommunityUploadsTest, AssociationsReachTheServiceWhenTheirNumberChanges) {
  const auto associate = [this](const std::string& ext, const std::string& type,
                                const std::string& program, const std::string& description) {
    m.registry.Write(RootKey::ClassesRoot, "." + ext, "", RegValue::String(type));
    m.registry.Write(RootKey::ClassesRoot, type, "", RegValue::String(description));
    m.registry.Write(RootKey::ClassesRoot, type + "\\shell\\open\\command", "",
                     RegValue::String("\"C:\\Program Files\\" + program + "\\" + program +
                                      ".exe\" \"%1\""));
  };
  associate("alf", "Alpha.Doc", "Alpha", "Alpha document");
  ASSERT_TRUE(store_.SendAssociations(*session_, env_, outcome_)) << outcome_.Text();
  const std::string stored = Query("SELECT document FROM associations");
  EXPECT_NE(stored.find("<Extension Value=\"alf\">"), std::string::npos) << stored;
  EXPECT_NE(stored.find("<Program Id=\"" + Program("Alpha")->GlobalId +
                        "\" Name=\"Alpha\" Verb=\"open\" Default=\"true\">Alpha document</Program>"),
            std::string::npos)
      << stored;
  EXPECT_EQ(store_.registered_associations(), 1);

  // The same number of extensions sends nothing.
  m.registry.Write(RootKey::ClassesRoot, "Alpha.Doc", "", RegValue::String("Renamed"));
  ASSERT_TRUE(store_.SendAssociations(*session_, env_, outcome_));
  EXPECT_EQ(Query("SELECT document FROM associations"), stored);

  associate("bet", "Beta.Doc", "Beta", "Beta document");
  ASSERT_TRUE(store_.SendAssociations(*session_, env_, outcome_)) << outcome_.Text();
  EXPECT_NE(Query("SELECT document FROM associations").find("Value=\"bet\""), std::string::npos);
  EXPECT_EQ(store_.registered_associations(), 2);
}

}  // namespace
}  // namespace kv::server
