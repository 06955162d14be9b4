// The client's account against korvan-service over loopback: a guest, a
// guest that registers and hands its programs over, a sign-in with a wrong
// password, and what "login.xml" keeps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "loopback_service.h"
#include "platform/fake/fake_machine.h"
#include "platform/http_transport.h"
#include "service/machine_identity.h"
#include "service/user_account.h"

namespace kv::server {
namespace {

using service::AccountState;
using service::UserAccount;

class AccountFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(loop_.Start());
    connection_ = &loop_.connection();
    http_ = &loop_.http();
    identity_.Load();
  }
  std::string File() { return m.files.ReadAll(folder.GetDataFilePath("login.xml")).value_or(""); }

  LoopbackService loop_;
  service::ServiceConnection* connection_ = nullptr;
  platform::HttpTransport* http_ = nullptr;
  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  service::MachineIdentity identity_{folder};
};

TEST_F(AccountFlowTest, AGuestRegistersAndKeepsItsData) {
  UserAccount account(folder, identity_.GUID());
  account.Load();
  EXPECT_EQ(account.state(), AccountState::NoAccount);
  EXPECT_FALSE(account.SendAccountRequest(*connection_, "17", ""));  // nothing to ask yet

  account.ChooseGuest();
  ASSERT_TRUE(account.SendAccountRequest(*connection_, "17", "")) << account.outcome().Text();
  auto r = account.record();
  EXPECT_EQ(r.state, AccountState::Ready);
  EXPECT_TRUE(r.is_guest);
  EXPECT_FALSE(r.id.empty());
  EXPECT_EQ(r.password_digest.size(), 32u);  // the secret the service issued
  const std::string guest_id = r.id;

  // 4 -> 2 -> 4: the guest's credentials go along and are forgotten after.
  ASSERT_TRUE(account.Register("ann+test@example.com", "s3cret & more", "Ann"));
  r = account.record();
  EXPECT_EQ(r.old_guest_id, guest_id);
  EXPECT_EQ(r.password_digest, *m.ids.Md5Hex("s3cret & more"));
  EXPECT_EQ(File().find("s3cret"), std::string::npos);  // the typed password is kept nowhere
  ASSERT_TRUE(account.SendAccountRequest(*connection_, "17", "")) << account.outcome().Text();
  r = account.record();
  EXPECT_EQ(r.state, AccountState::Ready);
  EXPECT_FALSE(r.is_guest);
  EXPECT_TRUE(r.old_guest_id.empty());
  EXPECT_NE(r.id, guest_id);
  EXPECT_EQ(r.email, "ann+test@example.com");
  EXPECT_EQ(r.page_url, "http://localhost:8080/user/" + r.id + "/");
  {
    auto tx = loop_.service().storage().Begin(false);
    EXPECT_FALSE(tx->FindUser(std::stoll(guest_id)));  // merged into the new account
    EXPECT_TRUE(tx->FindUserByEmail("ann+test@example.com"));
  }

  // The file holds it all, in order, and a new process reads it back.
  const std::string file = File();
  std::size_t at = 0;
  for (const char* tag : {"<State>4<", "<Id>", "<Login>ann+test@example.com<", "<Password>",
                          "<Name>Ann<", "<Email>", "<UserPageURL>", "<UserPictureURL>",
                          "<IsGuest>false<", "<OldGuestId><", "<OldGuestPwd><", "<Stats>",
                          "<NumberOfQuestions>", "<LastSuccCheckUpdatesTime>", "<Settings>",
                          "<Notifications>"}) {
    const std::size_t next = file.find(tag, at);
    ASSERT_NE(next, std::string::npos) << tag << "\n" << file;
    at = next;
  }
  UserAccount again(folder, identity_.GUID());
  again.Load();
  EXPECT_EQ(again.record().id, r.id);
  EXPECT_EQ(again.state(), AccountState::Ready);
}

TEST_F(AccountFlowTest, SignInFailuresAndTheSiteLinks) {
  UserAccount account(folder, identity_.GUID());
  ASSERT_TRUE(account.Register("bob@example.com", "right", "Bob"));
  ASSERT_TRUE(account.SendAccountRequest(*connection_, "17", "")) << account.outcome().Text();

  // 3 -> 5 with the wrong password, 3 -> 4 with the right one.
  ASSERT_TRUE(account.LogIn("bob@example.com", "wrong"));
  EXPECT_FALSE(account.SendAccountRequest(*connection_, "17", ""));
  EXPECT_EQ(account.state(), AccountState::LoginFailed);
  EXPECT_EQ(account.outcome().ResultCode(), service::AnswerCode::LoginFailure);
  ASSERT_TRUE(account.LogIn("BOB@example.com", "right"));
  ASSERT_TRUE(account.SendAccountRequest(*connection_, "17", "")) << account.outcome().Text();
  EXPECT_EQ(account.state(), AccountState::Ready);

  // 2 -> 6: the address is taken (by another password).
  UserAccount other(folder, identity_.GUID());
  ASSERT_TRUE(other.Register("bob@example.com", "mine", "Bobby"));
  EXPECT_FALSE(other.SendAccountRequest(*connection_, "17", ""));
  EXPECT_EQ(other.state(), AccountState::RegistrationFailed);

  // Nobody listening: a guest request stays wanted for the next check.
  UserAccount offline(folder, identity_.GUID());
  offline.ChooseGuest();
  app::ServiceConfig nowhere;
  nowhere.site = nowhere.upload = {"http", "127.0.0.1", 1};
  service::ServiceConnection down(*http_, nowhere);
  EXPECT_FALSE(offline.SendAccountRequest(down, "17", ""));
  EXPECT_EQ(offline.state(), AccountState::GuestWanted);

  // Links log the user in, escaped, before a fragment.
  const std::string digest = *m.ids.Md5Hex("right");
  ASSERT_TRUE(account.LogIn("a+b&c@example.com", "right"));
  EXPECT_EQ(account.LoggedInUrl("http://site/user/7/#top"),
            "http://site/user/7/?login=a%2Bb%26c%40example.com&pwd=" + digest + "#top");
  EXPECT_EQ(account.LoggedInUrl("http://site/page"),
            "http://site/page?login=a%2Bb%26c%40example.com&pwd=" + digest);
  EXPECT_EQ(account.LoggedInUrl("x#y"), "x#y?login=a%2Bb%26c%40example.com&pwd=" + digest);
  // Opened in the browser the same way.
  account.OpenLoggedIn("http://site/user/7/");
  ASSERT_FALSE(m.shell.executed().empty());
  EXPECT_EQ(m.shell.executed().back().file,
            "http://site/user/7/?login=a%2Bb%26c%40example.com&pwd=" + digest);
  offline.ChooseGuest();
  EXPECT_EQ(offline.LoggedInUrl("http://site/"), "http://site/");
}

}  // namespace
}  // namespace kv::server
