// Applying the service's `Programs` answer, and the check's sequence against
// a stand-in service: what is marked new, what is looked up how, and what a
// failure keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_http.h"
#include "platform/fake/fake_machine.h"
#include "service/check_news.h"
#include "service/software_list_file.h"
#include "service/software_list_store.h"
#include "service/zip_archive.h"

namespace kv::service {
namespace {

using inventory::FormatVersion;
using platform::RegValue;
using platform::RootKey;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

platform::FakeHttpReply Answer(const std::string& body, const std::string& code = "OK") {
  const ZipEntry entry{"report.xml",
                       "<KV><Result><Code>" + code + "</Code></Result>" + body + "</KV>"};
  platform::FakeHttpReply reply;
  reply.body = *WriteZipArchive(std::span(&entry, 1));
  return reply;
}

std::optional<store::XmlDocument> Parse(const std::string& programs) {
  return store::XmlDocument::Parse("<Programs>" + programs + "</Programs>");
}

class CheckTest : public ::testing::Test {
 protected:
  SoftwarePtr Install(const std::string& id, const std::string& version) {
    const std::string key = kUninstall + id;
    const std::string dir = "C:\\Program Files\\" + id + "\\";
    m.files.AddFile(dir + id + ".exe", "MZ");
    m.files.AddFile(dir + "uninst.exe", "MZ");
    m.registry.Write(RootKey::LocalMachine, key, "DisplayName", RegValue::String(id + " " + version));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayVersion", RegValue::String(version));
    m.registry.Write(RootKey::LocalMachine, key, "UninstallString",
                     RegValue::String("\"" + dir + "uninst.exe\""));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayIcon", RegValue::String(dir + id + ".exe"));
    const std::string programs = *m.shell.GetFolder(platform::SpecialFolder::Programs);
    m.shell.AddShortcut(programs + "\\" + id + ".lnk", dir + id + ".exe");
    EXPECT_TRUE(store.Refresh());
    return Program(id);
  }
  SoftwarePtr Program(const std::string& local_id) {
    const int i = store.FindByLocalId(local_id);
    return i < 0 ? nullptr : store.At(static_cast<std::size_t>(i));
  }
  bool Apply(const std::string& programs) {
    auto doc = Parse(programs);
    EXPECT_TRUE(doc);
    return store.ApplyProgramsAnswer(doc->Root(), rules);
  }
  // Gives a program its identifier and the versions the service holds.
  void Known(const SoftwarePtr& p, const std::string& id) {
    p->GlobalId = id;
    p->VerOnServer = p->VerInstalled;
  }

  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  app::ProgressRange range;
  app::ProgressTracker progress{range};
  SoftwareListStore store{m.machine, folder, progress};
  AnswerRules rules{"kv.test:8080", true};
  platform::FakeHttpTransport http;
  ServiceConnection connection{http, app::ServiceConfig{}};
  NewsInbox news;
  CheckServices services{{connection, {"5", "6F9619FF8B86D011B42D00C04FC964FF", "", "d"}, "17"},
                         {}, rules, nullptr, nullptr, &news, nullptr};
  RequestOutcome outcome;
};

TEST_F(CheckTest, ANewStableVersionIsNewsOnceAndBetasOnlyWhenWanted) {
  SoftwarePtr p = Install("Foo", "2.0");
  Known(p, "7");
  // Beta news ignored: a newer beta alone is stored, not announced.
  ASSERT_TRUE(Apply(R"(<P ID="7" V="2.0" SV="2.0" BV="2.1 beta"/>)"));
  EXPECT_FALSE(store.has_new_versions());
  EXPECT_FALSE(p->State & state::kNewVersion);
  EXPECT_EQ(FormatVersion(p->VerLatestBeta), "2.1 beta");

  ASSERT_TRUE(Apply(R"(<P ID="7" V="2.0" SV="2.2" BV="2.1 beta"/>)"));
  EXPECT_TRUE(store.has_new_versions());
  EXPECT_TRUE(p->State & state::kNewVersion);
  EXPECT_EQ(FormatVersion(p->VerLatestStable), "2.2");

  // The same answer again: the stored latest version equals it, no news.
  p->State &= ~state::kNewVersion;
  store.set_has_new_versions(false);
  ASSERT_TRUE(Apply(R"(<P ID="7" V="2.0" SV="2.2" BV="2.1 beta"/>)"));
  EXPECT_FALSE(store.has_new_versions());
  EXPECT_FALSE(p->State & state::kNewVersion);

  // With betas wanted, a newer beta is news too.
  rules.ignore_beta_versions = false;
  ASSERT_TRUE(Apply(R"(<P ID="7" V="2.0" SV="2.2" BV="2.3 beta"/>)"));
  EXPECT_TRUE(store.has_new_versions());
  EXPECT_TRUE(p->State & state::kNewVersion);

  // Not subscribed to versions: news for the scheduler, no mark on the program.
  p->State &= ~state::kNewVersion;
  p->Flags &= ~flag::kNotifyVersions;
  store.set_has_new_versions(false);
  ASSERT_TRUE(Apply(R"(<P ID="7" V="2.0" SV="2.4"/>)"));
  EXPECT_TRUE(store.has_new_versions());
  EXPECT_FALSE(p->State & state::kNewVersion);
  EXPECT_FALSE(p->VerLatestBeta.IsPresent());  // absent BV clears it
}

TEST_F(CheckTest, AnUnknownVersionStoresTheLatestButRaisesNothing) {
  SoftwarePtr p = Install("Foo", "2.0");
  Known(p, "7");
  ASSERT_TRUE(Apply(R"(<P ID="7" V="unknown" SV="9.0"/>)"));
  EXPECT_TRUE(p->Flags & flag::kVersionUnknown);
  EXPECT_FALSE(p->VerOnServer.IsPresent());
  EXPECT_EQ(FormatVersion(p->VerLatestStable), "9.0");
  EXPECT_FALSE(store.has_new_versions());
  EXPECT_FALSE(p->State & state::kNewVersion);
  // A known version clears the mark and becomes the installed one.
  ASSERT_TRUE(Apply(R"(<P ID="7" V="2.0.1" SV="9.0"/>)"));
  EXPECT_FALSE(p->Flags & flag::kVersionUnknown);
  EXPECT_EQ(FormatVersion(p->VerInstalled), "2.0.1");
}

TEST_F(CheckTest, ProgramsAreFoundByDisplayNameIdentifierOrShortFormKey) {
  SoftwarePtr foo = Install("Foo", "2.0");
  SoftwarePtr bar = Install("Bar", "1.0");
  Known(bar, "8");
  ASSERT_TRUE(Apply(R"(<P ID="7" DN="Foo 2.0" N="Foo Player"/>)"
                    R"(<P id="8" n="Bar Tool" nc="1"/>)"
                    R"(<P ID="99" N="Gone"/>)"
                    R"(<P ID="100" DN="No Such Name"/>)"
                    R"(<P N=""  V="1.0"/>)"));
  EXPECT_EQ(foo->GlobalId, "7");
  EXPECT_EQ(foo->Name, "Foo Player");
  EXPECT_EQ(bar->Name, "Bar Tool");  // attribute names in any case
  EXPECT_EQ(bar->nComments, 1);
  // Not found: the service is told it has the wrong idea, and nothing else
  // (the keyless child finds no program without an identifier).
  EXPECT_EQ(store.unmatched_ids(), (std::vector<std::string>{"99", "100"}));
  EXPECT_FALSE(Program("Foo")->VerOnServer.IsPresent());
  // The next report names them.
  const std::string report = store.BuildReport({});
  EXPECT_NE(report.find("<ProgramIdList>99,100"), std::string::npos) << report;

  // A child without attributes makes the answer invalid.
  EXPECT_FALSE(Apply(R"(<P ID="7" NU="3"/><P/><P ID="8" NU="4"/>)"));
  EXPECT_EQ(foo->nUsers, 3);
  EXPECT_EQ(bar->nUsers, 0);
}

TEST_F(CheckTest, CountersAndPagesFollowTheAnswer) {
  SoftwarePtr p = Install("Foo", "2.0");
  Known(p, "7");
  p->nComments = 3;
  p->Flags |= flag::kNotifyComments;
  ASSERT_TRUE(Apply(R"(<P ID="7" NC="5" NQ="2" NU="120" NR="10" RS="37" UR="4" I="0" U="foo-player" PU="foo-sons" P="Foo &amp; Sons"/>)"));
  EXPECT_EQ(p->nNewComments, 2);
  EXPECT_TRUE(p->State & state::kNewComments);
  EXPECT_EQ(p->nQuestionsPosted, 2);
  EXPECT_FALSE(p->State & state::kNewQuestions);  // not subscribed
  EXPECT_EQ(p->RatingsSum, 37);
  EXPECT_EQ(p->UserRating, 4);
  EXPECT_EQ(p->UserRatingOnServer, 4);
  EXPECT_TRUE(p->State & state::kIconWanted);
  EXPECT_EQ(p->Publisher, "Foo & Sons");
  EXPECT_EQ(p->ProgUrl, "http://foo-player.kv.test:8080/");
  EXPECT_EQ(p->CommentsUrl, "http://foo-player.kv.test:8080/comments/");
  EXPECT_EQ(p->UsersUrl, "http://foo-player.kv.test:8080/users/");
  EXPECT_EQ(p->QuestionsUrl, "http://foo-player.kv.test:8080/questions/");
  EXPECT_EQ(p->PublisherUrl, "http://foo-sons.kv.test:8080/");

  // Without the subscription a rise is only stored.
  SoftwarePtr q = Install("Bar", "1.0");
  Known(q, "8");
  q->nComments = 3;
  q->Flags &= ~flag::kNotifyComments;
  ASSERT_TRUE(Apply(R"(<P ID="8" NC="5" SC="ignore" I="1"/>)"));
  EXPECT_EQ(q->nComments, 5);
  EXPECT_EQ(q->nNewComments, 0);
  EXPECT_FALSE(q->State & state::kNewComments);
  EXPECT_TRUE(q->Flags & flag::kIgnored);
  ASSERT_TRUE(Apply(R"(<P ID="8" NC="5"/>)"));
  EXPECT_FALSE(q->Flags & flag::kIgnored);  // absent SC clears it

  // Page addresses that could be more than a page are not taken.
  ASSERT_TRUE(Apply(R"(<P ID="7" U="x&quot; &amp; calc" AddCommentUrl="file:///c:/x" MeetOtherUsersUrl="https://s/u p"/>)"));
  EXPECT_EQ(p->ProgUrl, "http://foo-player.kv.test:8080/");
  EXPECT_EQ(p->CommentsUrl, "http://foo-player.kv.test:8080/comments/");
  ASSERT_TRUE(Apply(R"(<P ID="7" AskQuestionUrl="https://site.test/q/7"/>)"));
  EXPECT_EQ(p->QuestionsUrl, "https://site.test/q/7");
}

TEST_F(CheckTest, AnEmptyAnswerChangesNothingAndAMissingOneIsInvalid) {
  SoftwarePtr p = Install("Foo", "2.0");
  Known(p, "7");
  ASSERT_TRUE(store.Save());
  http.SetHandler([](const platform::FakeHttpExchange& e) {
    if (e.target.path.find("check_updates") != std::string::npos)
      return Answer("<Programs></Programs>");
    return Answer("");
  });
  // Every program the answer leaves out is reported again; here the report
  // gets an empty answer in turn.
  ASSERT_TRUE(store.CheckUpdates(services, outcome)) << outcome.Text();
  EXPECT_TRUE(outcome.succeeded());
  EXPECT_EQ(p->GlobalId, "7");
  EXPECT_EQ(FormatVersion(p->VerInstalled), "2.0");

  http.SetHandler([](const platform::FakeHttpExchange&) {
    return Answer("<Server><Stats><TotalNumberOfUsers>5</TotalNumberOfUsers></Stats></Server>");
  });
  EXPECT_FALSE(store.CheckUpdates(services, outcome));
  EXPECT_EQ(outcome.code(), AnswerCode::InvalidAnswer);
  EXPECT_EQ(progress.depth(), 0u);
}

TEST_F(CheckTest, TheSequenceAndWhatAFailureKeeps) {
  SoftwarePtr foo = Install("Foo", "2.0");
  SoftwarePtr bar = Install("Bar", "1.0");
  std::vector<std::string> modes;
  bool fail_check = true;
  http.SetHandler([&](const platform::FakeHttpExchange& e) {
    const std::string path = e.target.path;
    modes.push_back(path.substr(path.find("mode=") + 5));
    if (modes.back() == "add_programs") {
      return Answer(R"(<Programs><P ID="7" DN="Foo 2.0" V="2.0" SV="2.0"/>)"
                    R"(<P ID="8" DN="Bar 1.0" V="1.0" SV="1.0"/></Programs>)");
    }
    if (modes.back() == "check_updates" && fail_check) {
      platform::FakeHttpReply reply;
      reply.finish_failure = platform::Status::Error(platform::ErrorKind::Network, "reset");
      return reply;
    }
    return Answer(R"(<LatestNews><N Date="2026-12-01" Url="http://s/n/1">Hello</N></LatestNews>)"
                  R"(<Programs><P ID="7" V="2.0" SV="3.0"/><P ID="8" V="1.0" SV="1.0"/></Programs>)");
  });
  foo->UserRating = 4;
  ASSERT_EQ(store.WriteComment(static_cast<std::size_t>(store.FindByLocalId("Foo")),
                               {true, "nice", 0, false, false}),
            false);  // no identifier yet: cannot be commented on
  EXPECT_FALSE(store.CheckUpdates(services, outcome));
  EXPECT_EQ(outcome.kind(), OutcomeKind::NetworkFailure);
  // The report went through and stays: identifiers known, nothing to report.
  EXPECT_EQ(foo->GlobalId, "7");
  EXPECT_FALSE(store.HasSomethingToReport());
  const std::string saved = m.files.ReadAll(folder.GetDataFilePath(kSoftwareListFile)).value_or("");
  EXPECT_NE(saved.find("<GlobalId>7</GlobalId>"), std::string::npos);

  modes.clear();
  fail_check = false;
  ASSERT_TRUE(store.WriteComment(static_cast<std::size_t>(store.FindByLocalId("Foo")),
                                 {true, "nice", 0, false, false}));
  ASSERT_TRUE(store.CheckUpdates(services, outcome)) << outcome.Text();
  // Nothing to report; the comment (with its rating), then the check.
  EXPECT_EQ(modes, (std::vector<std::string>{"add_comment", "check_updates"}));
  EXPECT_TRUE(store.has_new_versions());
  EXPECT_TRUE(foo->State & state::kNewVersion);
  EXPECT_FALSE(bar->State & state::kNewVersion);
  ASSERT_EQ(news.items().size(), 1u);
  EXPECT_EQ(news.items()[0], (NewsItem{"Hello", "2026-12-01", "http://s/n/1"}));
  EXPECT_EQ(progress.depth(), 0u);
  EXPECT_DOUBLE_EQ(range.current(), 100.0);
}


TEST_F(CheckTest, AReportAnswerNamingAnUnknownProgramIsToldBackNextTime) {
  SoftwarePtr foo = Install("Foo", "2.0");
  store.set_unmatched_ids({"41"});
  http.SetHandler([](const platform::FakeHttpExchange&) {
    return Answer(R"(<Programs><P ID="7" DN="Foo 2.0" V="2.0"/><P ID="55" N="Nope"/></Programs>)");
  });
  ASSERT_TRUE(store.SendReport(services.session, {}, rules, outcome)) << outcome.Text();
  const std::string body = http.exchanges()[0].body;
  const std::size_t zip = body.find("PK\x03\x04");
  auto sent = ReadZipArchive(std::string_view(body).substr(
      zip, body.rfind("\r\n--" + std::string(kMultipartBoundary)) - zip));
  ASSERT_TRUE(sent && !sent->empty());
  EXPECT_NE(sent->front().data.find("<ProgramIdList>41"), std::string::npos);  // reported once ...
  EXPECT_EQ(store.unmatched_ids(), (std::vector<std::string>{"55"}));  // ... the new one kept
  EXPECT_NE(store.BuildReport({}).find("<ProgramIdList>55"), std::string::npos);
}

}  // namespace
}  // namespace kv::service
