// The protocol over real HTTP on loopback, driven by the client's own
// requester code (FormPoster, ServiceConnection) through libcurl.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "korvan_service.h"
#include "platform/http_transport.h"
#include "service/requests.h"
#include "service/zip_archive.h"
#include "service_process.h"
#include "test_database.h"

namespace kv::server {
namespace {

namespace fs = std::filesystem;
using service::AnswerCode;
using service::ClientIdentity;
using service::FormPoster;
using service::RequestMode;
using service::RequestOutcome;

// One program of a report, as the client writes it.
struct Prog {
  std::string name, display_name, version, publisher;
  bool beta = false;
};

std::string Report(const std::vector<Prog>& programs, const std::string& removed = "") {
  store::XmlWriter w;
  w.Open("", "KV");
  w.Open("", "UserSoftware");
  w.Open(" ", "Programs");
  for (const Prog& p : programs) {
    w.Open("  ", "Program");
    w.Text("   ", "Name", p.name);
    w.Text("   ", "Version", p.version);
    if (p.beta) w.Text("   ", "BetaRelease", "true");
    if (!p.display_name.empty()) w.Text("   ", "DisplayName", p.display_name);
    w.Text("   ", "Publisher", p.publisher);
    w.Close("  ", "Program");
  }
  w.Close(" ", "Programs");
  w.Open(" ", "WasUninstalled");
  w.Text("  ", "ProgramIdList", removed + "  ");
  w.Close(" ", "WasUninstalled");
  w.Close("", "UserSoftware");
  w.Close("", "KV");
  return w.Take();
}

// An icon file with one bitmap image of `payload` bytes (40 or more).
std::string Icon(std::size_t payload = 40, char fill = 'p') {
  std::string ico = {0, 0, 1, 0, 1, 0};
  const std::string entry = {16, 16, 0, 0, 1, 0, 32, 0,
                             static_cast<char>(payload), 0, 0, 0, 22, 0, 0, 0};
  const std::string header = {40, 0, 0, 0};
  return ico + entry + header + std::string(payload - 4, fill);
}

// A machine identifier as the client makes it.
std::string Guid(char digit) { return std::string(32, digit); }

// The attributes of each program element of an answer's `Programs`, by `ID`.
using Attributes = std::map<std::string, std::string>;
std::vector<Attributes> Programs(const store::XmlDocument& doc) {
  std::vector<Attributes> out;
  const auto programs = doc.Find("KV/Programs");
  if (!programs) return out;
  for (const store::XmlElement p : programs->Children()) {
    Attributes a;
    for (const char* name : {"ID", "DN", "N", "V", "SV", "BV", "NU", "NC", "NR", "RS", "UR", "I", "U"}) {
      if (auto v = p.Attribute(name)) a[name] = *v;
    }
    out.push_back(a);
  }
  return out;
}

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Restart({});
  }
  void TearDown() override {
    service_.reset();
  }
  void Restart(ServiceOptions options) {
    service_.reset();
    ServeOptions o;
    o.database = database_.address();
    o.port = 0;
    o.threads = 4;
    o.service = std::move(options);
    o.credential_cost = CredentialCost::Cheapest();
    o.starting_catalogue = std::string(KV_SERVER_DATA_DIR) + "/catalogue.csv";
    auto s = KorvanService::Start(o);
    ASSERT_TRUE(s) << s.status().ToString();
    service_ = std::move(s).value();
    Use(service_->port());
  }
  // Sends what follows to the service on `port`.
  void Use(int port) {
    app::ServiceConfig config;
    config.site = config.upload = {"http", "127.0.0.1", port};
    connection_ = std::make_unique<service::ServiceConnection>(*http_, config);
  }

  // A urlencoded request with `fields` after the identity fields (none when
  // `identity` is null).
  std::optional<store::XmlDocument> Send(RequestMode mode, const ClientIdentity* identity,
                                         std::vector<std::pair<std::string, std::string>> fields,
                                         RequestOutcome& outcome, const char* build = "17") {
    FormPoster form(*http_);
    if (identity) service::AddIdentityFields(form, *identity, build);
    else form.AddField("client_build", build);
    for (const auto& [name, value] : fields) form.AddField(name, value);
    outcome.Begin();
    return connection_->Exchange(mode, form, outcome);
  }
  // A guest account on machine `guid`.
  ClientIdentity Guest(const std::string& guid) {
    RequestOutcome o;
    auto doc = Send(RequestMode::AddGuest, nullptr, {{"GUID", guid}, {"bundled_with", ""}}, o);
    EXPECT_TRUE(doc) << o.Text();
    if (!doc) return {};
    ClientIdentity me;
    me.guid = guid;
    me.id = doc->Find("KV/User/Id")->Text();
    me.password = doc->Find("KV/User/Password")->Text();
    return me;
  }
  std::optional<store::XmlDocument> SendReport(const ClientIdentity& me, const std::string& report,
                                               RequestOutcome& o) {
    o.Begin();
    return connection_->SendDocument(RequestMode::AddPrograms, me, "17", report, o);
  }
  std::vector<Attributes> Check(const ClientIdentity& me) {
    RequestOutcome o;
    auto doc = Send(RequestMode::CheckUpdates, &me, {}, o);
    EXPECT_TRUE(doc) << o.Text();
    return doc ? Programs(*doc) : std::vector<Attributes>{};
  }

  TestDatabase database_;
  std::unique_ptr<platform::HttpTransport> http_ = platform::MakeSystemHttpTransport();
  std::unique_ptr<KorvanService> service_;
  std::unique_ptr<service::ServiceConnection> connection_;
};

TEST_F(ProtocolTest, AGuestRegistersAndSignsInAgain) {
  ClientIdentity guest = Guest("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  ASSERT_FALSE(guest.id.empty());
  EXPECT_EQ(guest.password.size(), 32u);
  RequestOutcome o;
  ASSERT_TRUE(SendReport(guest, Report({{"Seven", "7-Zip 23.01 (x64)", "23.1", "Igor Pavlov"}}), o))
      << o.Text();

  // Registration carries the guest's programs over.
  ClientIdentity ann{"", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "ann+test@example.com", "5f4dcc3b5aa765d61d8327deb882cf99"};
  auto doc = Send(RequestMode::AddUser, &ann,
                  {{"bundled_with", ""}, {"id", guest.id}, {"guest_password", guest.password},
                   {"name", "Ann"}},
                  o);
  ASSERT_TRUE(doc) << o.Text();
  ann.id = doc->Find("KV/User/Id")->Text();
  EXPECT_NE(ann.id, guest.id);
  EXPECT_EQ(doc->Find("KV/User/Email")->Text(), "ann+test@example.com");  // "+" stays a plus
  EXPECT_FALSE(doc->Find("KV/User/Password"));  // the client keeps its digest
  auto programs = Check(ann);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0]["V"], "23.1");
  EXPECT_EQ(programs[0]["NU"], "1");
  // The guest account is gone.
  Send(RequestMode::CheckUpdates, &guest, {}, o);
  EXPECT_EQ(o.ResultCode(), AnswerCode::LoginFailure);

  // Signing in elsewhere: the right digest, then a wrong one.
  ClientIdentity login{"", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB", "ANN+test@example.com", ann.password};
  doc = Send(RequestMode::GetId, nullptr,
             {{"GUID", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"}, {"email", login.email}, {"password", login.password},
              {"bundled_with", ""}},
             o);
  ASSERT_TRUE(doc) << o.Text();
  EXPECT_EQ(doc->Find("KV/User/Id")->Text(), ann.id);
  Send(RequestMode::GetId, nullptr,
       {{"GUID", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"}, {"email", login.email}, {"password", "0000"}, {"bundled_with", ""}}, o);
  EXPECT_EQ(o.ResultCode(), AnswerCode::LoginFailure);
  EXPECT_FALSE(o.message().empty());
  // A registration sent again (its answer lost) gets the same account; the
  // same e-mail with another password is refused.
  ClientIdentity again{"", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "ann+test@example.com", ann.password};
  doc = Send(RequestMode::AddUser, &again, {{"bundled_with", ""}, {"name", "Ann"}}, o);
  ASSERT_TRUE(doc) << o.Text();
  EXPECT_EQ(doc->Find("KV/User/Id")->Text(), ann.id);
  again.password = "ffffffffffffffffffffffffffffffff";
  Send(RequestMode::AddUser, &again, {{"bundled_with", ""}, {"name", "Mallory"}}, o);
  EXPECT_EQ(o.ResultCode(), AnswerCode::ExtendedError);
}

TEST_F(ProtocolTest, ProgramsComeAndGoAndLearnTheirLatestVersions) {
  ClientIdentity one = Guest("11111111111111111111111111111111"), two = Guest("22222222222222222222222222222222");
  RequestOutcome o;
  auto doc = SendReport(one, Report({{"Firefox", "Mozilla Firefox 121.0 (x64 en-US)", "121.0", "Mozilla"},
                                     {"Tool", "", "1.0", ""}}),
                        o);
  ASSERT_TRUE(doc) << o.Text();
  auto answered = Programs(*doc);
  ASSERT_EQ(answered.size(), 2u);
  // The catalogue knew Firefox; the other program became an entry of its own.
  EXPECT_EQ(answered[0]["DN"], "Mozilla Firefox 121.0 (x64 en-US)");
  EXPECT_EQ(answered[0]["U"], "mozilla-firefox");
  EXPECT_EQ(answered[1]["N"], "Tool");
  EXPECT_EQ(answered[1].count("DN"), 0u);
  EXPECT_EQ(answered[1]["I"], "0");
  const std::string firefox = answered[0]["ID"];
  EXPECT_EQ(answered[0]["SV"], "");  // one machine is no release yet

  // A second machine with a newer version: still one machine each.
  ASSERT_TRUE(SendReport(two, Report({{"Firefox", "Mozilla Firefox 122.0 (x64 en-US)", "122.0", "Mozilla"}}), o));
  EXPECT_EQ(Check(one)[0]["SV"], "");
  ASSERT_TRUE(SendReport(one, Report({{"Firefox", "Mozilla Firefox 122.0 (x64 en-US)", "122.0", "Mozilla"}}, firefox), o));
  auto programs = Check(one);
  ASSERT_EQ(programs.size(), 2u);
  EXPECT_EQ(programs[0]["V"], "122.0");
  EXPECT_EQ(programs[0]["SV"], "122.0");  // two machines have it now
  EXPECT_EQ(programs[0]["NU"], "2");

  // An operator releases a newer one.
  {
    auto tx = service_->storage().Begin(true);
    auto p = tx->FindProgram(std::stoll(firefox));
    p->stable_version = "123.0";
    p->beta_version = "124.0b1";
    ASSERT_TRUE(tx->UpdateProgram(*p));
    ASSERT_TRUE(tx->Commit());
  }
  programs = Check(two);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0]["SV"], "123.0");
  EXPECT_EQ(programs[0]["BV"], "124.0b1");

  // Removed on machine one: no longer its program, one user left.
  ASSERT_TRUE(SendReport(one, Report({}, firefox), o));
  EXPECT_EQ(Check(one).size(), 1u);
  EXPECT_EQ(Check(two)[0]["NU"], "1");
}

TEST_F(ProtocolTest, OldClientsAreToldWhereTheNewOneIs) {
  ServiceOptions options;
  options.min_build = 20;
  options.update_url = "http://localhost:8080/download/korvan-setup.exe";
  options.installer_params = "/S /update";
  Restart(options);
  RequestOutcome o;
  Send(RequestMode::AddGuest, nullptr, {{"GUID", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}}, o, "17");
  EXPECT_EQ(o.ResultCode(), AnswerCode::OldClientVersion);
  EXPECT_EQ(o.update_url(), options.update_url);
  EXPECT_EQ(o.installer_params(), "/S /update");
  Send(RequestMode::AddGuest, nullptr, {{"GUID", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}}, o, "???");
  EXPECT_EQ(o.ResultCode(), AnswerCode::OldClientVersion);
  EXPECT_TRUE(Send(RequestMode::AddGuest, nullptr, {{"GUID", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}}, o, "20")) << o.Text();
}

TEST_F(ProtocolTest, MalformedRequestsGetAClearAnswerAndChangeNothing) {
  ClientIdentity me = Guest("DDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDD");
  auto count = [&] {
    auto tx = service_->storage().Begin(false);
    return tx->Counts().programs;
  };
  const auto before = count();
  RequestOutcome o;
  auto send_file = [&](const std::string& bytes) {
    FormPoster form(*http_);
    service::AddIdentityFields(form, me, "17");
    form.AddFile("zipfile", "report.zip", bytes);
    form.AddField("Submit", "Submit");
    o.Begin();
    return connection_->Exchange(RequestMode::AddPrograms, form, o).has_value();
  };
  std::vector<Prog> many;
  for (int i = 0; i < 10000; ++i) many.push_back({"Program " + std::to_string(i), "", "1.0", ""});
  const std::string bomb(64u << 20, '\0');
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"not a zip", "PK but not really"},
      {"no report.xml", *service::WriteZipArchive(std::vector<service::ZipEntry>{{"x.xml", "<KV/>"}})},
      {"a zip bomb", *service::WriteZipArchive(std::vector<service::ZipEntry>{{"report.xml", bomb}})},
      {"10,000 programs", *service::WriteZipArchive(std::vector<service::ZipEntry>{{"report.xml", Report(many)}})},
      {"an entity expansion",
       *service::WriteZipArchive(std::vector<service::ZipEntry>{
           {"report.xml", "<!DOCTYPE KV [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;\">]>"
                          "<KV><UserSoftware><Programs><Program><Name>&b;&b;&b;</Name></Program>"
                          "</Programs></UserSoftware></KV>"}})},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(send_file(bytes));
    EXPECT_EQ(o.ResultCode(), AnswerCode::ExtendedError) << o.Text();
    EXPECT_EQ(count(), before);
  }
  // An entry that climbs out of its folder is read under its bare name.
  EXPECT_TRUE(send_file(*service::WriteZipArchive(
      std::vector<service::ZipEntry>{{"../../report.xml", Report({{"Climber", "", "1.0", ""}})}})))
      << o.Text();

  // An unknown mode, and a body over the limit (HTTP 413: the client sees no archive).
  FormPoster form(*http_);
  form.AddField("client_build", "17");
  o.Begin();
  platform::Status posted = form.PostUrlEncoded({"http", "127.0.0.1", service_->port()},
                                                "/kv.php?mode=no_such_mode");
  ASSERT_TRUE(posted) << posted.ToString();
  auto text = service::ReadAnswer(form);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("ExtendedError"), std::string::npos);
  EXPECT_FALSE(send_file(std::string(9u << 20, 'x')));
  EXPECT_EQ(o.ResultCode(), AnswerCode::InvalidAnswer);
}

TEST_F(ProtocolTest, CommentsRatingsIconsAndLogsReachTheDatabase) {
  ClientIdentity me = Guest("CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC");
  RequestOutcome o;
  auto doc = SendReport(me, Report({{"Seven", "7-Zip 23.01 (x64)", "23.1", "Igor Pavlov"}}), o);
  ASSERT_TRUE(doc) << o.Text();
  const std::string id = Programs(*doc).at(0)["ID"];

  EXPECT_FALSE(Send(RequestMode::AddComment, &me, {{"Id", id}, {"Comment", " \r\n "}}, o));
  EXPECT_EQ(o.Text(), "Your comment is empty.");
  EXPECT_FALSE(Send(RequestMode::AddComment, &me, {{"Id", id}, {"Comment", std::string(5000, 'c')}}, o));
  EXPECT_EQ(o.Text(), "Your comment is too long.");
  EXPECT_TRUE(Send(RequestMode::AddComment, &me, {{"Id", id}, {"Comment", "C++ & more\r\nline 2"}}, o))
      << o.Text();
  EXPECT_TRUE(Send(RequestMode::RateProgram, &me, {{"Id", id}, {"Rating", "4"}}, o)) << o.Text();
  EXPECT_TRUE(Send(RequestMode::RateProgram, &me, {{"Id", id}, {"Rating", "5"}}, o)) << o.Text();

  FormPoster icons(*http_);
  service::AddIdentityFields(icons, me, "17");
  icons.AddFile("icons", "icons.zip",
                *service::WriteZipArchive(std::vector<service::ZipEntry>{{id + ".ico", Icon()}}));
  icons.AddField("Submit", "Submit");
  o.Begin();
  EXPECT_TRUE(connection_->Exchange(RequestMode::UploadIcons, icons, o)) << o.Text();
  o.Begin();
  EXPECT_TRUE(connection_->SendDocument(RequestMode::AddUsageLog, me, "17", "(08.12.2026) line\r\n", o))
      << o.Text();

  auto programs = Check(me);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0]["NC"], "1");
  EXPECT_EQ(programs[0]["NR"], "1");
  EXPECT_EQ(programs[0]["RS"], "5");
  EXPECT_EQ(programs[0]["UR"], "5");
  EXPECT_EQ(programs[0]["I"], "1");
  auto tx = service_->storage().Begin(false);
  EXPECT_EQ(tx->CommentsOn(std::stoll(id), 5).at(0).text, "C++ & more\r\nline 2");
}

TEST_F(ProtocolTest, IconsComeOnceAndOnlyFromUsersOfTheProgram) {
  ClientIdentity me = Guest(Guid('A')), other = Guest(Guid('B'));
  RequestOutcome o;
  auto doc = SendReport(me, Report({{"Seven", "7-Zip 23.01 (x64)", "23.1", "Igor Pavlov"}}), o);
  ASSERT_TRUE(doc) << o.Text();
  const std::string id = Programs(*doc).at(0)["ID"];
  auto upload = [&](const ClientIdentity& who, const std::string& ico) {
    FormPoster form(*http_);
    service::AddIdentityFields(form, who, "17");
    form.AddFile("icons", "icons.zip",
                 *service::WriteZipArchive(std::vector<service::ZipEntry>{{id + ".ico", ico}}));
    form.AddField("Submit", "Submit");
    o.Begin();
    EXPECT_TRUE(connection_->Exchange(RequestMode::UploadIcons, form, o)) << o.Text();
  };
  auto stored = [&] {
    auto tx = service_->storage().Begin(false);
    return tx->HasIcon(std::stoll(id));
  };
  upload(other, Icon());  // not a program of theirs
  EXPECT_FALSE(stored());
  std::string truncated = Icon();
  truncated.pop_back();
  upload(me, truncated);
  upload(me, "GIF89a");
  upload(me, Icon(40).replace(22, 4, "GIF8"));  // a sound directory around something else
  EXPECT_FALSE(stored());
  upload(me, Icon(40));
  EXPECT_TRUE(stored());
  EXPECT_EQ(Check(me).at(0)["I"], "1");
  // The icon everyone sees is not replaced by a later upload.
  ASSERT_TRUE(SendReport(other, Report({{"Seven", "7-Zip 23.01 (x64)", "23.1", "Igor Pavlov"}}), o));
  upload(other, Icon(60, 'x'));
  EXPECT_EQ(database_.Query("SELECT data FROM icons"), Icon(40));
}

TEST_F(ProtocolTest, TwoEntriesOfOneProgramAndReportsThatDoNotSayTheKind) {
  ClientIdentity me = Guest(Guid('C'));
  RequestOutcome o;
  const Prog x64{"Microsoft Visual C++ 2015-2022 Redistributable",
                 "Microsoft Visual C++ 2015-2022 Redistributable (x64) - 14.38.33130", "14.38.33130",
                 "Microsoft Corporation"};
  Prog x86 = x64;
  x86.display_name = "Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.38.33130";
  auto doc = SendReport(me, Report({x64, x86}), o);
  ASSERT_TRUE(doc) << o.Text();
  auto answered = Programs(*doc);
  ASSERT_EQ(answered.size(), 2u);
  EXPECT_EQ(answered[0]["DN"], x64.display_name);
  EXPECT_EQ(answered[1]["DN"], x86.display_name);
  // Checks name both (the client finds a program by ID alone otherwise).
  auto checked = Check(me);
  ASSERT_EQ(checked.size(), 2u);
  EXPECT_EQ(checked[0]["DN"], x64.display_name);
  EXPECT_EQ(checked[1]["DN"], x86.display_name);

  // A beta, then the same version reported without saying its kind: still
  // a beta (a second user makes it count as released).
  Prog beta{"Tool", "Tool 2.0 beta", "2.0", "Maker", true};
  ClientIdentity two = Guest(Guid('D'));
  ASSERT_TRUE(SendReport(me, Report({beta}), o));
  ASSERT_TRUE(SendReport(two, Report({beta}), o));
  beta.beta = false;  // no BetaRelease element
  ASSERT_TRUE(SendReport(two, Report({beta}), o));
  bool found = false;
  for (const Attributes& a : Check(two)) {
    if (a.at("N") != "Tool") continue;
    found = true;
    EXPECT_EQ(a.at("BV"), "2.0");
    EXPECT_EQ(a.at("SV"), "");
  }
  EXPECT_TRUE(found);
}

TEST_F(ProtocolTest, MachinesBelongToTheirAccountsAndOneUserReleasesNothing) {
  ClientIdentity ann = Guest(Guid('E'));
  RequestOutcome o;
  ASSERT_TRUE(SendReport(ann, Report({{"Firefox", "Mozilla Firefox 122.0 (x64 en-US)", "122.0", "Mozilla"}}), o));
  // Another account naming Ann's machine gets a machine of its own.
  ClientIdentity mallory = Guest(Guid('F'));
  mallory.guid = ann.guid;
  EXPECT_TRUE(Check(mallory).empty());
  EXPECT_EQ(Check(ann).size(), 1u);
  mallory.guid = "not a machine identifier";
  Send(RequestMode::CheckUpdates, &mallory, {}, o);
  EXPECT_EQ(o.ResultCode(), AnswerCode::ExtendedError);

  // Ann's second machine with the same version: still one user.
  ClientIdentity ann2 = ann;
  ann2.guid = Guid('9');
  ASSERT_TRUE(SendReport(ann2, Report({{"Firefox", "Mozilla Firefox 122.0 (x64 en-US)", "122.0", "Mozilla"}}), o));
  auto programs = Check(ann2);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0]["NU"], "1");
  EXPECT_EQ(programs[0]["SV"], "");

  // A service that learns from one user shows it once restarted, for what
  // was reported before too.
  ServiceOptions options;
  options.learn_threshold = 1;
  Restart(options);
  EXPECT_EQ(Check(ann).at(0)["SV"], "122.0");
}

TEST_F(ProtocolTest, AnAddressGetsFewFailedSignInsAndNewGuests) {
  ServiceOptions options;
  options.failed_sign_ins_per_minute = 3;
  options.new_accounts_per_minute = 2;
  Restart(options);
  ClientIdentity me = Guest(Guid('1'));
  Guest(Guid('2'));
  RequestOutcome o;
  Send(RequestMode::AddGuest, nullptr, {{"GUID", Guid('3')}}, o);
  EXPECT_EQ(o.ResultCode(), AnswerCode::ExtendedError);
  EXPECT_NE(o.Text().find("Too many new accounts"), std::string::npos) << o.Text();

  ClientIdentity ann{"", Guid('4'), "ann@example.com", "5f4dcc3b5aa765d61d8327deb882cf99"};
  EXPECT_FALSE(Send(RequestMode::AddUser, &ann, {{"name", "Ann"}}, o));  // registrations count too
  EXPECT_NE(o.Text().find("Too many new accounts"), std::string::npos) << o.Text();

  EXPECT_TRUE(Send(RequestMode::CheckUpdates, &me, {}, o)) << o.Text();
  ClientIdentity wrong = me;
  wrong.password = "00000000000000000000000000000000";
  for (int i = 0; i < 3; ++i) {
    Send(RequestMode::CheckUpdates, &wrong, {}, o);
    EXPECT_EQ(o.ResultCode(), AnswerCode::LoginFailure);
  }
  // Now a credential that needs the slow check waits: guessing costs a
  // minute per try. One verified lately goes on.
  EXPECT_TRUE(Send(RequestMode::CheckUpdates, &me, {}, o)) << o.Text();
  ClientIdentity unverified = me;
  unverified.id = "999";
  Send(RequestMode::CheckUpdates, &unverified, {}, o);
  EXPECT_EQ(o.ResultCode(), AnswerCode::LoginFailure);
  EXPECT_NE(o.Text().find("Too many failed sign-ins"), std::string::npos) << o.Text();
}

TEST_F(ProtocolTest, ALongUsageLogIsTakenWithItsNewestLines) {
  ServiceOptions options;
  options.usage_log_cap = 1000;
  Restart(options);
  ClientIdentity me = Guest(Guid('5'));
  std::string log;
  for (int i = 0; log.size() < (6u << 20); ++i) log += "(08.12.2026) line " + std::to_string(i) + "\r\n";
  RequestOutcome o;
  o.Begin();
  // Over the size of other archive entries, and over the cap.
  ASSERT_TRUE(connection_->SendDocument(RequestMode::AddUsageLog, me, "17", log, o)) << o.Text();
  const std::string kept = database_.Query("SELECT data FROM usage_logs");
  EXPECT_GT(kept.size(), 950u);
  EXPECT_LE(kept.size(), 1000u);
  EXPECT_EQ(kept.substr(0, 13), "(08.12.2026) ");  // whole lines
  EXPECT_EQ(kept, log.substr(log.size() - kept.size()));  // the newest
}

// Two service processes over one database, as an operator runs them behind
// a balancer: started at once on an empty database, and one client's
// requests going to either in turn.
TEST_F(ProtocolTest, TwoProcessesOverOneDatabaseServeOneClientAlike) {
  service_.reset();
  TestDatabase fresh;
  ServiceProcess first(fresh.address()), second(fresh.address());
  ASSERT_NE(first.port(), 0);
  ASSERT_NE(second.port(), 0);
  EXPECT_EQ(fresh.Query("SELECT COUNT(*) FROM schema_version"), "1");
  const int ports[] = {first.port(), second.port()};
  int turn = 0;
  const auto next = [&] { Use(ports[turn++ % 2]); };

  next();
  ClientIdentity one = Guest(Guid('1'));
  next();
  const ClientIdentity two = Guest(Guid('2'));
  ASSERT_FALSE(one.id.empty());
  ASSERT_NE(one.id, two.id);
  RequestOutcome o;
  next();
  auto doc = SendReport(one, Report({{"Tool", "", "1.0", "Acme"}}), o);
  ASSERT_TRUE(doc) << o.Text();
  const std::string tool = Programs(*doc).at(0)["ID"];
  next();
  ASSERT_TRUE(SendReport(two, Report({{"Tool", "", "1.0", "Acme"}}), o)) << o.Text();
  // What one process learned from two machines, the other answers.
  next();
  auto programs = Check(one);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0]["ID"], tool);
  EXPECT_EQ(programs[0]["NU"], "2");
  EXPECT_EQ(programs[0]["SV"], "1.0");

  next();
  ASSERT_TRUE(Send(RequestMode::RateProgram, &one, {{"Id", tool}, {"Rating", "4"}}, o)) << o.Text();
  next();
  ASSERT_TRUE(Send(RequestMode::AddComment, &two, {{"Id", tool}, {"Comment", "Handy."}}, o)) << o.Text();
  next();
  programs = Check(two);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0]["NR"], "1");
  EXPECT_EQ(programs[0]["RS"], "4");
  EXPECT_EQ(programs[0]["NC"], "1");

  // Registered on one, signed in on the other, the guest's programs along.
  ClientIdentity ann{"", one.guid, "ann@example.com", "5f4dcc3b5aa765d61d8327deb882cf99"};
  next();
  doc = Send(RequestMode::AddUser, &ann,
             {{"bundled_with", ""}, {"id", one.id}, {"guest_password", one.password}, {"name", "Ann"}}, o);
  ASSERT_TRUE(doc) << o.Text();
  ann.id = doc->Find("KV/User/Id")->Text();
  next();
  doc = Send(RequestMode::GetId, nullptr,
             {{"GUID", Guid('3')}, {"email", ann.email}, {"password", ann.password}, {"bundled_with", ""}}, o);
  ASSERT_TRUE(doc) << o.Text();
  EXPECT_EQ(doc->Find("KV/User/Id")->Text(), ann.id);
  next();
  programs = Check(ann);
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0]["UR"], "4");
  EXPECT_EQ(programs[0]["NU"], "2");
  next();
  Send(RequestMode::CheckUpdates, &one, {}, o);  // the guest is gone for both
  EXPECT_EQ(o.ResultCode(), AnswerCode::LoginFailure);
}

}  // namespace
}  // namespace kv::server
