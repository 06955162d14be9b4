// The activity log's upload against korvan-service: sent once and removed;
// kept through every failure, with the lines written meanwhile.
#include "service/usage_log_upload.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "loopback_service.h"
#include "platform/fake/fake_machine.h"
#include "app/data_folder.h"
#include "platform/http_transport.h"

namespace kv::server {
namespace {


class UsageLogUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(loop_.Start());
    up_ = &loop_.connection();
    app::ServiceConfig config;
    config.site = config.upload = {"http", "127.0.0.1", 1};
    down_ = std::make_unique<service::ServiceConnection>(*http_, config);

    // A guest to upload as.
    service::FormPoster form(*http_);
    form.AddField("client_build", "17");
    form.AddField("GUID", std::string(32, 'A'));
    service::RequestOutcome o2;
    o2.Begin();
    auto doc = up_->Exchange(service::RequestMode::AddGuest, form, o2);
    ASSERT_TRUE(doc) << o2.Text();
    me_ = {doc->Find("KV/User/Id")->Text(), std::string(32, 'A'), "",
           doc->Find("KV/User/Password")->Text()};

    log_.Open(path_, false, "");
    log_.SetDisabled(false);
  }
  bool Upload(service::ServiceConnection& to, const service::ClientIdentity& as) {
    return service::UsageLogUpload(log_, m.files, to, as, "17", outcome_);
  }
  std::string File(const std::string& path) { return m.files.ReadAll(path).value_or("<none>"); }
  std::string Stored() {
    return loop_.Query("SELECT data FROM usage_logs ORDER BY id");  // rows joined by "|"
  }

  LoopbackService loop_;
  platform::HttpTransport* http_ = &loop_.http();
  service::ServiceConnection* up_ = nullptr;
  std::unique_ptr<service::ServiceConnection> down_;
  service::ClientIdentity me_;
  platform::FakeMachine m;
  app::ActivityLog log_{m.machine};
  app::DataFolder folder_{m.machine};
  const std::string path_ = folder_.GetDataFilePath("korvapp.exe.PUL");
  service::RequestOutcome outcome_;
};

TEST_F(UsageLogUploadTest, NothingToSendIsSuccess) {
  log_.SetDisabled(true);
  log_.Write("not kept");
  EXPECT_TRUE(Upload(*up_, me_));
  EXPECT_FALSE(m.files.Exists(path_));
  EXPECT_EQ(Stored(), "");
}

TEST_F(UsageLogUploadTest, SentOnceAndRemoved) {
  log_.Write("Started\r\n");
  EXPECT_TRUE(Upload(*up_, me_)) << outcome_.Text();
  EXPECT_FALSE(m.files.Exists(path_));
  EXPECT_FALSE(m.files.Exists(path_ + ".bak"));
  EXPECT_NE(Stored().find("Started\r\n"), std::string::npos);
  EXPECT_TRUE(Upload(*up_, me_));  // nothing new: nothing sent
  EXPECT_EQ(Stored().find('|'), std::string::npos);
}

TEST_F(UsageLogUploadTest, FailuresKeepEveryLine) {
  log_.Write("first\r\n");
  // Nobody listening: the log is where it was.
  EXPECT_FALSE(Upload(*down_, me_));
  EXPECT_EQ(outcome_.kind(), service::OutcomeKind::NetworkFailure);
  EXPECT_NE(File(path_).find("first"), std::string::npos);
  EXPECT_FALSE(m.files.Exists(path_ + ".bak"));

  // Refused (wrong credentials): the ".bak" stays, and lines written since
  // start a new log.
  service::ClientIdentity wrong = me_;
  wrong.password = std::string(32, '0');
  EXPECT_FALSE(Upload(*up_, wrong));
  EXPECT_EQ(outcome_.ResultCode(), service::AnswerCode::LoginFailure);
  EXPECT_NE(File(path_ + ".bak").find("first"), std::string::npos);
  log_.Write("second\r\n");
  log_.Flush();

  // The next upload sends the ".bak", then the new log.
  EXPECT_TRUE(Upload(*up_, me_)) << outcome_.Text();
  EXPECT_TRUE(outcome_.succeeded());
  const std::string stored = Stored();
  ASSERT_NE(stored.find("first"), std::string::npos);
  EXPECT_LT(stored.find("first"), stored.find("second"));
  EXPECT_FALSE(m.files.Exists(path_));
  EXPECT_FALSE(m.files.Exists(path_ + ".bak"));
}

TEST_F(UsageLogUploadTest, ARefusedLogIsSentLaterEvenWithNothingNew) {
  log_.Write("only line\r\n");
  service::ClientIdentity wrong = me_;
  wrong.password = std::string(32, '0');
  EXPECT_FALSE(Upload(*up_, wrong));
  EXPECT_FALSE(m.files.Exists(path_));  // nothing new was written
  EXPECT_TRUE(Upload(*up_, me_)) << outcome_.Text();
  EXPECT_NE(Stored().find("only line"), std::string::npos);
  EXPECT_FALSE(m.files.Exists(path_ + ".bak"));

  // A log switched off sends nothing, not even a file left from before.
  m.files.AddFile(path_, "old lines\r\n");
  log_.SetDisabled(true);
  EXPECT_TRUE(Upload(*up_, me_));
  EXPECT_EQ(File(path_), "old lines\r\n");
  EXPECT_EQ(Stored().find("old lines"), std::string::npos);
}

}  // namespace
}  // namespace kv::server
