// Whole checks of a replayed machine against korvan-service: the service
// learns the programs, an operator's release marks exactly the program it
// concerns, an uninstalled program stops counting, an old client is told to
// update, and a service that is down or talks nonsense changes nothing.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "http_server/http_test_server.h"
#include "loopback_service.h"
#include "platform/fake/fake_machine.h"
#include "service/check_news.h"
#include "service/report_environment.h"
#include "service/site_stats.h"
#include "service/software_list_file.h"
#include "service/software_list_store.h"
#include "service/user_account.h"

namespace kv::server {
namespace {

using platform::RegValue;
using platform::RootKey;
using service::SoftwarePtr;
namespace state = service::state;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kGuid[] = "0123456789ABCDEF0123456789ABCDEF";

class CheckFlowTest : public ::testing::Test {
 protected:
  void Serve(ServiceOptions options = {}) {
    ASSERT_NO_FATAL_FAILURE(loop_.Start(std::move(options)));
    Connect(loop_.connection().config());
  }
  void Connect(const app::ServiceConfig& config) {
    connection_.emplace(loop_.http(), config);
    account_.ChooseGuest();
    account_.SendAccountRequest(*connection_, "17", "");
  }
  bool Check() {
    const service::CheckServices services{
        {*connection_, account_.Identity(), "17"},
        service::ReadReportEnvironment(m.machine),
        service::AnswerRules::From(connection_->config(), true),
        &account_, &stats_, &news_, nullptr};
    EXPECT_TRUE(store_.Refresh());
    return store_.CheckUpdates(services, outcome_);
  }
  void Install(const std::string& id, const std::string& version) {
    const std::string key = kUninstall + id;
    const std::string dir = "C:\\Program Files\\" + id + "\\";
    m.files.AddFile(dir + id + ".exe", "MZ");
    m.files.AddFile(dir + "uninst.exe", "MZ");
    m.registry.Write(RootKey::LocalMachine, key, "DisplayName", RegValue::String(id));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayVersion", RegValue::String(version));
    m.registry.Write(RootKey::LocalMachine, key, "Publisher", RegValue::String("Acme"));
    m.registry.Write(RootKey::LocalMachine, key, "UninstallString",
                     RegValue::String("\"" + dir + "uninst.exe\""));
    const std::string programs = *m.shell.GetFolder(platform::SpecialFolder::Programs);
    m.shell.AddShortcut(programs + "\\" + id + ".lnk", dir + id + ".exe");
  }
  SoftwarePtr Program(const std::string& id) {
    const int i = store_.FindByLocalId(id);
    return i < 0 ? nullptr : store_.At(static_cast<std::size_t>(i));
  }
  void Release(const std::string& global_id, const std::string& stable) {
    auto tx = loop_.service().storage().Begin(true);
    ASSERT_TRUE(tx);
    auto program = tx->FindProgram(std::stoll(global_id));
    ASSERT_TRUE(program);
    program->stable_version = stable;
    ASSERT_TRUE(tx->UpdateProgram(*program));
    ASSERT_TRUE(tx->Commit());
  }
  std::string Query(const std::string& sql) { return loop_.Query(sql); }
  std::string ListFile() {
    return m.files.ReadAll(folder_.GetDataFilePath(service::kSoftwareListFile)).value_or("");
  }

  LoopbackService loop_;
  platform::FakeMachine m;
  app::DataFolder folder_{m.machine};
  app::ProgressRange range_;
  app::ProgressTracker progress_{range_};
  service::SoftwareListStore store_{m.machine, folder_, progress_};
  service::UserAccount account_{folder_, kGuid};
  service::SiteStats stats_{folder_};
  service::NewsInbox news_;
  std::optional<service::ServiceConnection> connection_;
  service::RequestOutcome outcome_;
};

TEST_F(CheckFlowTest, AReleaseMarksItsProgramAndAnUninstallStopsTheCount) {
  Install("Alpha", "1.0");
  Install("Beta", "2.0");
  Install("Gamma", "3.0");
  ASSERT_NO_FATAL_FAILURE(Serve());
  ASSERT_EQ(account_.state(), service::AccountState::Ready) << account_.outcome().Text();

  ASSERT_TRUE(Check()) << outcome_.Text();
  for (const char* id : {"Alpha", "Beta", "Gamma"}) {
    ASSERT_FALSE(Program(id)->GlobalId.empty()) << id;
    EXPECT_FALSE(Program(id)->State & state::kNewVersion) << id;
  }
  EXPECT_FALSE(store_.has_new_versions());
  EXPECT_FALSE(store_.HasSomethingToReport());
  EXPECT_EQ(stats_.totals().users, 1);
  EXPECT_EQ(Program("Beta")->nUsers, 1);

  ASSERT_NO_FATAL_FAILURE(Release(Program("Beta")->GlobalId, "2.5"));
  ASSERT_TRUE(Check()) << outcome_.Text();
  EXPECT_TRUE(store_.has_new_versions());
  EXPECT_TRUE(Program("Beta")->State & state::kNewVersion);
  EXPECT_FALSE(Program("Alpha")->State & state::kNewVersion);
  EXPECT_FALSE(Program("Gamma")->State & state::kNewVersion);
  EXPECT_EQ(inventory::FormatVersion(Program("Beta")->VerLatestStable), "2.5");

  // Checked again, the same release is no news.
  ASSERT_TRUE(Check()) << outcome_.Text();
  EXPECT_FALSE(store_.has_new_versions());

  const std::string gamma = Program("Gamma")->GlobalId;
  ASSERT_EQ(Query("SELECT count(*) FROM installs WHERE program_id = " + gamma), "1");
  m.registry.DeleteTree(RootKey::LocalMachine, std::string(kUninstall) + "Gamma");
  m.files.Delete("C:\\Program Files\\Gamma\\Gamma.exe").IgnoreError();
  ASSERT_TRUE(Check()) << outcome_.Text();
  EXPECT_FALSE(Program("Gamma"));
  EXPECT_TRUE(store_.Removed().empty());  // reported, so forgotten
  EXPECT_EQ(Query("SELECT count(*) FROM installs WHERE program_id = " + gamma), "0");
  EXPECT_EQ(Query("SELECT count(*) FROM installs"), "2");
}

TEST_F(CheckFlowTest, AnOldClientIsToldWhereToUpdate) {
  Install("Alpha", "1.0");
  ServiceOptions options;
  options.min_build = 18;
  options.update_url = "http://127.0.0.1/korvan-setup.exe";
  options.installer_params = "/S";
  ASSERT_NO_FATAL_FAILURE(Serve(options));
  EXPECT_FALSE(Check());
  EXPECT_EQ(outcome_.ResultCode(), service::AnswerCode::OldClientVersion);
  EXPECT_EQ(outcome_.update_url(), "http://127.0.0.1/korvan-setup.exe");
  EXPECT_EQ(outcome_.installer_params(), "/S");
}

TEST_F(CheckFlowTest, AServiceThatIsDownOrTalksNonsenseChangesNothing) {
  Install("Alpha", "1.0");
  ASSERT_NO_FATAL_FAILURE(Serve());
  ASSERT_TRUE(Check()) << outcome_.Text();
  Install("Beta", "2.0");
  ASSERT_TRUE(store_.Refresh());
  const std::string before = ListFile();
  ASSERT_NE(before.find("Beta"), std::string::npos);

  app::ServiceConfig nowhere;
  nowhere.site = nowhere.upload = {"http", "127.0.0.1", 1};
  connection_.emplace(loop_.http(), nowhere);
  EXPECT_FALSE(Check());
  EXPECT_EQ(outcome_.kind(), service::OutcomeKind::NetworkFailure);
  EXPECT_EQ(ListFile(), before);

  // Something that answers, but not as the service does.
  http_test::HttpTestServer garbage;
  ASSERT_TRUE(garbage.Start());
  nowhere.site.port = nowhere.upload.port = garbage.http_port();
  connection_.emplace(loop_.http(), nowhere);
  EXPECT_FALSE(Check());
  EXPECT_EQ(outcome_.code(), service::AnswerCode::InvalidAnswer);
  EXPECT_EQ(ListFile(), before);
}

}  // namespace
}  // namespace kv::server
