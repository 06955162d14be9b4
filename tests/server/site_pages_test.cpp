// The site's pages over real HTTP on loopback: accounts, programs and
// comments come in through the protocol, pages go out through cpp-httplib.
#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <string>
#include <vector>

#include "loopback_service.h"
#include "site/html.h"
#include "store/xml_writer.h"

namespace kv::server {
namespace {

using service::ClientIdentity;
using service::FormPoster;
using service::RequestMode;
using service::RequestOutcome;

constexpr char kSite[] = "korvan.test";

struct Reply {
  int status = 0;
  std::string body;
};

class SitePagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServiceOptions o;
    o.site_origin = std::string("http://") + kSite;
    o.failed_sign_ins_per_minute = 3;
    o.new_accounts_per_minute = 4;
    ASSERT_NO_FATAL_FAILURE(loop_.Start(o));
  }

  Reply Get(const std::string& host, const std::string& path) {
    httplib::Client client("127.0.0.1", loop_.service().port());
    auto res = client.Get(path.c_str(), {{"Host", host}});
    if (!res) return {};
    return {res->status, res->body};
  }
  Reply Post(const std::string& path, const std::string& body) {
    httplib::Client client("127.0.0.1", loop_.service().port());
    auto res = client.Post(path.c_str(), body, "application/x-www-form-urlencoded");
    if (!res) return {};
    return {res->status, res->body};
  }

  ClientIdentity Guest(const std::string& guid) {
    FormPoster form(loop_.http());
    form.AddField("client_build", "17");
    form.AddField("GUID", guid);
    RequestOutcome o;
    auto doc = loop_.connection().Exchange(RequestMode::AddGuest, form, o);
    EXPECT_TRUE(doc) << o.Text();
    if (!doc) return {};
    return {doc->Find("KV/User/Id")->Text(), guid, "", doc->Find("KV/User/Password")->Text()};
  }
  // Registers the guest under `email`; the identity signs in by address.
  ClientIdentity Register(const ClientIdentity& guest, const std::string& email) {
    ClientIdentity user{"", guest.guid, email, "5f4dcc3b5aa765d61d8327deb882cf99"};
    FormPoster form(loop_.http());
    service::AddIdentityFields(form, user, "17");
    for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"id", guest.id}, {"guest_password", guest.password}, {"name", "Ann <b>"}}) {
      form.AddField(name, value);
    }
    RequestOutcome o;
    auto doc = loop_.connection().Exchange(RequestMode::AddUser, form, o);
    EXPECT_TRUE(doc) << o.Text();
    if (doc) user.id = doc->Find("KV/User/Id")->Text();
    return user;
  }
  // Reports (name, version, publisher) programs; their answer attributes by name.
  std::map<std::string, std::map<std::string, std::string>> Report(
      const ClientIdentity& me, const std::vector<std::vector<std::string>>& programs) {
    store::XmlWriter w;
    w.Open("", "KV");
    w.Open("", "UserSoftware");
    w.Open(" ", "Programs");
    for (const auto& p : programs) {
      w.Open("  ", "Program");
      w.Text("   ", "Name", p[0]);
      w.Text("   ", "Version", p[1]);
      w.Text("   ", "Publisher", p[2]);
      w.Close("  ", "Program");
    }
    w.Close(" ", "Programs");
    w.Open(" ", "WasUninstalled");
    w.Text("  ", "ProgramIdList", "  ");
    w.Close(" ", "WasUninstalled");
    w.Close("", "UserSoftware");
    w.Close("", "KV");
    RequestOutcome o;
    auto doc = loop_.connection().SendDocument(RequestMode::AddPrograms, me, "17", w.Take(), o);
    EXPECT_TRUE(doc) << o.Text();
    std::map<std::string, std::map<std::string, std::string>> out;
    if (!doc) return out;
    for (const store::XmlElement p : doc->Find("KV/Programs")->Children()) {
      auto& a = out[std::string(*p.Attribute("N"))];
      for (const char* name : {"ID", "U", "PU"}) {
        if (auto v = p.Attribute(name)) a[name] = *v;
      }
    }
    return out;
  }
  void Comment(const ClientIdentity& me, const std::string& program_id, const std::string& text) {
    FormPoster form(loop_.http());
    service::AddIdentityFields(form, me, "17");
    form.AddField("Id", program_id);
    form.AddField("Comment", text);
    RequestOutcome o;
    EXPECT_TRUE(loop_.connection().Exchange(RequestMode::AddComment, form, o)) << o.Text();
  }
  std::string Query(const std::string& sql) { return loop_.Query(sql); }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  LoopbackService loop_;
};

TEST(SiteHtml, EscapesEveryMarkupCharacter) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\">Tom & 'Jerry'</a>"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;");
  EXPECT_EQ(HtmlEscape("plain ü"), "plain ü");
  EXPECT_EQ(UrlEncode("a b+c&d/é"), "a%20b%2Bc%26d%2F%C3%A9");
  const std::string page = HtmlPage("<T>", "<p>x</p>");
  EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(page.find("<title>&lt;T&gt; - Korvan</title>"), std::string::npos);
  EXPECT_EQ(page.find("<T>"), std::string::npos);
}

TEST_F(SitePagesTest, HostsRouteToProgramPublisherOrMainSite) {
  const ClientIdentity me = Guest(std::string(32, 'A'));
  auto programs = Report(me, {{"Seven Zip", "23.1", "Igor Pavlov"}});
  const std::string label = programs["Seven Zip"]["U"];
  const std::string publisher = programs["Seven Zip"]["PU"];
  ASSERT_FALSE(label.empty());
  ASSERT_FALSE(publisher.empty());

  Reply page = Get(label + "." + kSite, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "<h1>Seven Zip</h1>")) << page.body;
  EXPECT_TRUE(Has(page.body, "Igor Pavlov"));
  EXPECT_TRUE(Has(page.body, "http://" + publisher + "." + kSite + "/"));
  EXPECT_TRUE(Has(page.body, "<tr><th>Users</th><td>1</td></tr>")) << page.body;
  EXPECT_TRUE(Has(page.body, "No questions yet"));
  // Host names compare without regard to case.
  EXPECT_EQ(Get(label + ".KORVAN.test", "/questions/").status, 200);
  EXPECT_EQ(Get(label + "." + kSite, "/users/").status, 200);
  EXPECT_EQ(Get(label + "." + kSite, "/nothing/").status, 404);

  page = Get(publisher + "." + kSite, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "http://" + label + "." + kSite + "/")) << page.body;

  page = Get(std::string("nosuchthing.") + kSite, "/");
  EXPECT_EQ(page.status, 404);
  EXPECT_TRUE(Has(page.body, "<html"));
  EXPECT_EQ(Get(std::string("a.b.") + kSite, "/").status, 404);

  // Any other host: the main site.
  page = Get(kSite, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "1 programs from 1 publishers")) << page.body;
  EXPECT_EQ(Get("127.0.0.1", "/nowhere").status, 404);
  EXPECT_EQ(Get(kSite, "/style.css").status, 200);
}

TEST_F(SitePagesTest, HomeShowsTheLatestNewsEscaped) {
  {
    auto tx = loop_.service().storage().Begin(true);
    ASSERT_TRUE(tx);
    for (int i = 1; i <= 7; ++i) {
      ASSERT_TRUE(tx->AddNews({0, "day " + std::to_string(i), "News <" + std::to_string(i) + ">",
                               i == 7 ? "javascript:alert(1)" : "http://example.com/" + std::to_string(i), i}));
    }
    ASSERT_TRUE(tx->Commit());
  }
  const Reply home = Get(kSite, "/");
  EXPECT_EQ(home.status, 200);
  EXPECT_TRUE(Has(home.body, "News &lt;7&gt;")) << home.body;
  EXPECT_FALSE(Has(home.body, "javascript:"));  // only web addresses become links
  EXPECT_LT(home.body.find("News &lt;7&gt;"), home.body.find("News &lt;6&gt;"));
  EXPECT_TRUE(Has(home.body, "News &lt;3&gt;"));
  EXPECT_FALSE(Has(home.body, "News &lt;2&gt;"));  // five at most
}

TEST_F(SitePagesTest, SearchAndCommentsAreEscaped) {
  const ClientIdentity me = Guest(std::string(32, 'B'));
  auto programs = Report(me, {{"Seven Zip", "23.1", "Igor Pavlov"}, {"Notepad Plus", "8.6", "Don Ho"}});
  Comment(me, programs["Seven Zip"]["ID"], "first");
  Comment(me, programs["Seven Zip"]["ID"], "<script>alert(1)</script> & more");

  const Reply page = Get(programs["Seven Zip"]["U"] + "." + kSite, "/comments/");
  EXPECT_EQ(page.status, 200);
  EXPECT_FALSE(Has(page.body, "<script>")) << page.body;
  EXPECT_TRUE(Has(page.body, "&lt;script&gt;alert(1)&lt;/script&gt; &amp; more"));
  // Newest first.
  EXPECT_LT(page.body.find("alert(1)"), page.body.find("first"));

  Reply found = Get(kSite, "/search/?search=zip");
  EXPECT_EQ(found.status, 200);
  EXPECT_TRUE(Has(found.body, "http://" + programs["Seven Zip"]["U"] + "." + kSite + "/")) << found.body;
  EXPECT_FALSE(Has(found.body, "Notepad Plus"));
  found = Get(kSite, "/search/?search=%3Cb%3E");
  EXPECT_TRUE(Has(found.body, "No program matches"));
  EXPECT_FALSE(Has(found.body, "<b>"));
}

TEST_F(SitePagesTest, UserPageShowsProgramsOnlyWhenSignedIn) {
  const ClientIdentity guest = Guest(std::string(32, 'C'));
  auto programs = Report(guest, {{"Seven Zip", "23.1", "Igor Pavlov"}});
  const ClientIdentity ann = Register(guest, "ann+x@example.com");
  ASSERT_FALSE(ann.id.empty());
  Comment(ann, programs["Seven Zip"]["ID"], "my note");
  const std::string path = "/user/" + ann.id + "/";

  Reply page = Get(kSite, path);
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "Ann &lt;b&gt;")) << page.body;
  EXPECT_FALSE(Has(page.body, "Seven Zip"));
  EXPECT_FALSE(Has(page.body, "my note"));

  // A wrong digest, or the right one for another account: the public part.
  page = Get(kSite, path + "?login=" + ann.id + "&pwd=0123456789abcdef0123456789abcdef");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "Not signed in"));
  EXPECT_FALSE(Has(page.body, "Seven Zip"));
  EXPECT_EQ(Get(kSite, "/user/999/?login=999&pwd=" + ann.password).status, 404);

  // By address (escaped as the client does) or by id.
  for (const std::string& login : {std::string("ANN%2Bx%40example.com"), ann.id}) {
    page = Get(kSite, path + "?login=" + login + "&pwd=" + ann.password);
    EXPECT_TRUE(Has(page.body, "Seven Zip")) << login << page.body;
    EXPECT_TRUE(Has(page.body, "23.1"));
    EXPECT_TRUE(Has(page.body, "my note"));
    EXPECT_FALSE(Has(page.body, "Not signed in"));
  }
  EXPECT_EQ(Get(kSite, "/user/abc/").status, 404);
  EXPECT_EQ(Get(kSite, path + "elsewhere/").status, 404);

  // An operator's newer version makes the install out of date.
  const std::string signed_in = "?login=" + ann.id + "&pwd=" + ann.password;
  EXPECT_FALSE(Has(Get(kSite, path + "updates/" + signed_in).body, "Seven Zip"));
  {
    auto tx = loop_.service().storage().Begin(true);
    ASSERT_TRUE(tx);
    auto program = tx->FindProgram(std::stoll(programs["Seven Zip"]["ID"]));
    ASSERT_TRUE(program);
    program->stable_version = "24.0";
    ASSERT_TRUE(tx->UpdateProgram(*program));
    ASSERT_TRUE(tx->Commit());
  }
  page = Get(kSite, path + "updates/" + signed_in);
  EXPECT_TRUE(Has(page.body, "Seven Zip")) << page.body;
  EXPECT_TRUE(Has(page.body, "update available"));
  EXPECT_TRUE(Has(page.body, "1 of 1 out of date"));
  EXPECT_FALSE(Has(page.body, "my note"));
}

TEST_F(SitePagesTest, FailedSignInsAreLimited) {
  const ClientIdentity ann = Register(Guest(std::string(32, 'D')), "ann@example.com");
  const std::string path = "/user/" + ann.id + "/";
  for (int i = 0; i < 3; ++i) Get(kSite, path + "?login=" + ann.id + "&pwd=wrong" + std::to_string(i));
  // The limit is reached: even the right digest is not checked now.
  EXPECT_TRUE(Has(Get(kSite, path + "?login=" + ann.id + "&pwd=" + ann.password).body, "Not signed in"));
}

TEST_F(SitePagesTest, BugReportsAndRemindersAreRecorded) {
  Reply page = Get(kSite, "/uninstalled.php?userid=5&build=17");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "/bug_report.php"));
  page = Get(kSite, "/bug_report.php?type=client\"><x");
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(Has(page.body, "name=\"type\" value=\"clientx\"")) << page.body;

  page = Post("/bug_report.php", "type=client&email=bob%40example.com&text=It+crashed%0A%3Cb%3E");
  EXPECT_EQ(page.status, 200) << page.body;
  EXPECT_EQ(Query("SELECT kind, email, body, peer, received_at > 0 FROM bug_reports"),
            "client,bob@example.com,It crashed\n<b>,127.0.0.1,1");
  EXPECT_EQ(Post("/bug_report.php", "type=client&text=%20").status, 400);
  EXPECT_EQ(Post("/bug_report.php", "text=" + std::string(10001, 'x')).status, 413);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM bug_reports"), "1");

  const ClientIdentity ann = Register(Guest(std::string(32, 'E')), "ann@example.com");
  EXPECT_EQ(Get(kSite, "/remind/").status, 200);
  const Reply known = Post("/remind/", "email=Ann%40example.com");
  const Reply unknown = Post("/remind/", "email=nobody%40example.com");
  EXPECT_EQ(known.status, 200);
  EXPECT_EQ(known.body, unknown.body);
  EXPECT_EQ(Query("SELECT email, COALESCE(user_id, 0) FROM password_reminders ORDER BY id"),
            "ann@example.com," + ann.id + "|nobody@example.com,0");
  EXPECT_EQ(Post("/remind/", "email=").status, 400);

  // Stored forms are limited per address (four a minute here).
  EXPECT_EQ(Post("/remind/", "email=c%40example.com").status, 200);
  EXPECT_EQ(Post("/remind/", "email=d%40example.com").status, 429);
  EXPECT_EQ(Post("/bug_report.php", "text=again").status, 429);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM password_reminders"), "3");

  // The protocol's own endpoint still takes its posts.
  FormPoster form(loop_.http());
  form.AddField("client_build", "17");
  form.AddField("GUID", std::string(32, 'F'));
  RequestOutcome o;
  EXPECT_TRUE(loop_.connection().Exchange(RequestMode::AddGuest, form, o)) << o.Text();
}


// A service on a port the system picked names that port in its addresses.
TEST(SiteOrigin, APickedPortIsTheOneInTheAddresses) {
  LoopbackService loop;
  ServiceOptions o;
  o.site_origin = "http://localhost:0";
  ASSERT_NO_FATAL_FAILURE(loop.Start(o));
  const std::string site = "localhost:" + std::to_string(loop.service().port());
  httplib::Client client("127.0.0.1", loop.service().port());
  auto found = client.Get("/search/?search=a", {{"Host", site}});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->body.find("localhost:0"), std::string::npos);

  service::FormPoster form(loop.http());
  form.AddField("client_build", "17");
  form.AddField("GUID", std::string(32, 'D'));
  service::RequestOutcome outcome;
  auto answer = loop.connection().Exchange(service::RequestMode::AddGuest, form, outcome);
  ASSERT_TRUE(answer) << outcome.Text();
  EXPECT_EQ(answer->Find("KV/User/UserPageURL")->Text().rfind("http://" + site + "/user/", 0), 0u);
}

}  // namespace
}  // namespace kv::server
