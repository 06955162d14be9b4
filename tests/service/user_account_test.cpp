// The account's state machine where only a stand-in service can reach:
// a request that is not due, a user who chooses again while a request runs,
// a guest that goes back to its account, and answers without credentials.
#include "service/user_account.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_http.h"
#include "platform/fake/fake_machine.h"
#include "service/zip_archive.h"

namespace kv::service {
namespace {

// A reply with an OK answer carrying `user`.
platform::FakeHttpReply Answer(const std::string& user) {
  const ZipEntry entry{"report.xml", "<KV><Result><Code>OK</Code></Result>" + user + "</KV>"};
  platform::FakeHttpReply reply;
  reply.body = *WriteZipArchive(std::span(&entry, 1));
  return reply;
}

class UserAccountTest : public ::testing::Test {
 protected:
  bool Send() { return account.SendAccountRequest(connection, "17", ""); }

  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  platform::FakeHttpTransport http;
  ServiceConnection connection{http, app::ServiceConfig{}};
  UserAccount account{folder, "6F9619FF8B86D011B42D00C04FC964FF"};
};

TEST_F(UserAccountTest, NothingDueChangesNothing) {
  http.SetHandler([](const platform::FakeHttpExchange&) {
    return Answer("<User><Id>5</Id><Password>guestsecret</Password>"
                                               "<Stats><LastCheckUpdatesTime>7</LastCheckUpdatesTime>"
                                               "</Stats></User>");
  });
  account.ChooseGuest();
  ASSERT_TRUE(Send());
  ASSERT_EQ(account.state(), AccountState::Ready);
  EXPECT_EQ(account.record().last_check_time, 7u);  // as the answer said
  EXPECT_FALSE(Send());  // ready: no request, and the check times stay
  EXPECT_EQ(http.exchanges().size(), 1u);
  EXPECT_EQ(account.record().last_check_time, 7u);
}

TEST_F(UserAccountTest, AChoiceMadeWhileARequestRunsStands) {
  account.ChooseGuest();
  http.SetHandler([this](const platform::FakeHttpExchange&) {
    // The user signs in while the guest request is on its way.
    EXPECT_TRUE(account.LogIn("ann@example.com", "pw"));
    return Answer("<User><Id>5</Id><Password>guestsecret</Password></User>");
  });
  EXPECT_FALSE(Send());
  const AccountRecord r = account.record();
  EXPECT_EQ(r.state, AccountState::LoggingIn);
  EXPECT_EQ(r.id, "");
  EXPECT_EQ(r.password_digest, *m.ids.Md5Hex("pw"));
}

TEST_F(UserAccountTest, AGuestThatFailedToRegisterGoesBackToItsAccount) {
  http.SetHandler([](const platform::FakeHttpExchange& e) {
    if (e.target.path.find("add_guest") != std::string::npos) {
      return Answer("<User><Id>5</Id><Password>guestsecret</Password>"
                                                 "<UserPageURL>http://s/user/5/</UserPageURL></User>");
    }
    // A registration answered without credentials is no account.
    return Answer("<User><Name>x</Name></User>");
  });
  account.ChooseGuest();
  ASSERT_TRUE(Send());
  ASSERT_TRUE(account.Register("ann@example.com", "pw", "Ann"));
  EXPECT_EQ(account.record().page_url, "");  // the guest's page is not Ann's
  EXPECT_FALSE(Send());
  EXPECT_EQ(account.state(), AccountState::RegistrationFailed);
  EXPECT_EQ(account.outcome().kind(), OutcomeKind::ServiceFailure);

  account.ChooseGuest();
  const AccountRecord r = account.record();
  EXPECT_EQ(r.state, AccountState::Ready);
  EXPECT_EQ(r.id, "5");
  EXPECT_EQ(r.password_digest, "guestsecret");
  EXPECT_TRUE(r.is_guest);
  EXPECT_EQ(http.exchanges().size(), 2u);  // no new guest asked for
}

}  // namespace
}  // namespace kv::service
