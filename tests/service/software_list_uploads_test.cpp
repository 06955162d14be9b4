// What the software list sends besides its report, against a stand-in
// service: the icon cache and the icon archive's size walk, the comment
// queue and its file, ratings, and when the associations go out.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/fake/fake_http.h"
#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "platform/icon_resources.h"
#include "service/icon_cache.h"
#include "service/software_list_store.h"
#include "service/zip_archive.h"

namespace kv::service {
namespace {

using platform::RegValue;
using platform::RootKey;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

platform::FakeHttpReply Answer(const std::string& code, const std::string& message = "") {
  const ZipEntry entry{"report.xml", "<KV><Result><Code>" + code + "</Code><Message>" + message +
                                         "</Message></Result></KV>"};
  platform::FakeHttpReply reply;
  reply.body = *WriteZipArchive(std::span(&entry, 1));
  return reply;
}

platform::FakeHttpReply Dropped() {
  platform::FakeHttpReply reply;
  reply.finish_failure = platform::Status::Error(platform::ErrorKind::Network, "reset");
  return reply;
}

// The entries of the zip archive inside a multipart body.
std::vector<ZipEntry> ArchiveIn(const std::string& body) {
  const std::size_t start = body.find("PK\x03\x04");
  const std::size_t end = body.rfind("\r\n--" + std::string(kMultipartBoundary));
  if (start == std::string::npos || end == std::string::npos || end < start) return {};
  auto entries = ReadZipArchive(std::string_view(body).substr(start, end - start));
  return entries ? *entries : std::vector<ZipEntry>{};
}

std::vector<std::string> Names(const std::vector<ZipEntry>& entries) {
  std::vector<std::string> out;
  for (const ZipEntry& e : entries) out.push_back(e.name);
  return out;
}

class UploadsTest : public ::testing::Test {
 protected:
  // An installed program whose executable carries an icon group of three sizes.
  SoftwarePtr Install(const std::string& id, const std::string& global_id) {
    const std::string key = kUninstall + id;
    const std::string exe = "C:\\Program Files\\" + id + "\\" + id + ".exe";
    m.files.AddFile(exe, platform::BuildPeImage(nullptr, {{1, "", {16, 32, 48}}}));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayName", RegValue::String(id));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayVersion", RegValue::String("1.0"));
    m.registry.Write(RootKey::LocalMachine, key, "DisplayIcon", RegValue::String(exe));
    m.files.AddFile("C:\\Program Files\\" + id + "\\uninst.exe", "MZ");
    m.registry.Write(RootKey::LocalMachine, key, "UninstallString",
                     RegValue::String("\"C:\\Program Files\\" + id + "\\uninst.exe\""));
    const std::string programs = *m.shell.GetFolder(platform::SpecialFolder::Programs);
    m.shell.AddShortcut(programs + "\\" + id + ".lnk", exe);
    EXPECT_TRUE(store.Refresh());
    const int i = store.FindByLocalId(id);
    if (i < 0) {
      ADD_FAILURE() << id << " not in the list";
      return nullptr;
    }
    SoftwarePtr p = store.At(static_cast<std::size_t>(i));
    p->GlobalId = global_id;
    return p;
  }
  std::string CacheFile(const std::string& global_id) {
    return folder.GetDataFolder() + "cache\\icons\\" + global_id + ".ico";
  }

  platform::FakeMachine m;
  app::DataFolder folder{m.machine};
  app::ProgressRange range;
  app::ProgressTracker progress{range};
  SoftwareListStore store{m.machine, folder, progress};
  platform::FakeHttpTransport http;
  ServiceConnection connection{http, app::ServiceConfig{}};
  UploadSession session{connection, {"5", "6F9619FF8B86D011B42D00C04FC964FF", "", "digest"}, "17"};
  RequestOutcome outcome;
};

TEST_F(UploadsTest, TheIconCacheHoldsTheWholeGroupOfTheFoundIcon) {
  SoftwarePtr p = Install("Viewer", "");
  // Loading the list's icons fills the cache, named by the LocalId until the
  // service gives the program an identifier.
  const std::string by_local = CacheFile("local_Viewer");
  auto written = m.files.ReadAll(by_local);
  ASSERT_TRUE(written) << "the icon load did not fill the cache";
  auto group = platform::ReadIconGroup(*written, 0);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->images.size(), 3u);
  EXPECT_EQ(store.CachedIconPath(*p), by_local);

  // A quoted source with a negative index names a group by its resource id.
  const std::string dll = "C:\\Program Files\\Viewer\\res.dll";
  m.files.AddFile(dll, platform::BuildPeImage(nullptr, {{7, "", {16}}, {101, "", {24, 32}}}));
  p->GlobalId = "77";
  p->rti.IconFile = "\"" + dll + "\",-101";
  ASSERT_EQ(store.CachedIconPath(*p), CacheFile("77"));
  group = platform::ReadIconGroup(*m.files.ReadAll(CacheFile("77")), 0);
  ASSERT_TRUE(group);
  ASSERT_EQ(group->images.size(), 2u);
  EXPECT_EQ(group->images[0].width, 24);

  // An .ico source is copied as it is; one that is no icon is not cached.
  const std::string ico = platform::BuildIconFile(*group);
  m.files.AddFile("C:\\icons\\app.ico", ico);
  p->GlobalId = "78";
  p->rti.IconFile = "C:\\icons\\app.ico";
  EXPECT_EQ(store.CachedIconPath(*p), CacheFile("78"));
  EXPECT_EQ(m.files.ReadAll(CacheFile("78")).value_or(""), ico);
  m.files.AddFile("C:\\icons\\fake.ico", "not an icon");
  p->GlobalId = "79";
  p->rti.IconFile = "C:\\icons\\fake.ico";
  p->rti.cmdline.Path.clear();
  EXPECT_EQ(store.CachedIconPath(*p), "");
  // Nothing half-written is left behind.
  EXPECT_FALSE(m.files.Exists(CacheFile("79")));
  EXPECT_FALSE(m.files.Exists(CacheFile("79") + ".part"));
}

TEST_F(UploadsTest, IconsGoOutInArchivesOfAboutThreeHundredKilobytes) {
  // Cache files of 200,000, 150,000 and 10,000 bytes, in list order.
  const std::vector<std::pair<std::string, std::size_t>> sizes = {
      {"A", 200000}, {"B", 150000}, {"C", 10000}};
  std::vector<SoftwarePtr> programs;
  for (const auto& [name, size] : sizes) {
    programs.push_back(Install(name, "10" + name));
    programs.back()->State |= state::kIconWanted;
    m.files.AddFile(CacheFile("10" + name), std::string(size, 'x'));
  }
  Install("D", "10D");  // has an icon on the service: not packed
  http.SetHandler([](const platform::FakeHttpExchange&) { return Answer("OK"); });

  ASSERT_TRUE(store.UploadIcons(session, outcome));
  ASSERT_EQ(http.exchanges().size(), 1u);
  const auto first = http.exchanges()[0];
  EXPECT_NE(first.target.path.find("mode=upload_icons"), std::string::npos);
  EXPECT_EQ(Names(ArchiveIn(first.body)), (std::vector<std::string>{"10A.ico", "10B.ico"}));
  EXPECT_FALSE(programs[0]->State & state::kIconWanted);
  EXPECT_FALSE(programs[1]->State & state::kIconWanted);
  EXPECT_TRUE(programs[2]->State & state::kIconWanted);
  EXPECT_FALSE(m.files.Exists(CacheFile("10A")));  // packed files go
  EXPECT_TRUE(m.files.Exists(CacheFile("10C")));

  ASSERT_TRUE(store.UploadAllIcons(session, outcome));
  ASSERT_EQ(http.exchanges().size(), 2u);
  EXPECT_EQ(Names(ArchiveIn(http.exchanges()[1].body)), (std::vector<std::string>{"10C.ico"}));
  EXPECT_FALSE(store.FirstProgramNeedingIcon());
  EXPECT_EQ(progress.depth(), 0u);
  // Nothing wanted: no request at all.
  ASSERT_TRUE(store.UploadAllIcons(session, outcome));
  EXPECT_EQ(http.exchanges().size(), 2u);
}

TEST_F(UploadsTest, AFailedIconUploadKeepsTheProgramsAsking) {
  SoftwarePtr a = Install("A", "1");
  SoftwarePtr b = Install("B", "2");
  a->State |= state::kIconWanted;
  b->State |= state::kIconWanted;
  http.SetHandler([](const platform::FakeHttpExchange&) { return Dropped(); });
  EXPECT_FALSE(store.UploadAllIcons(session, outcome));
  EXPECT_EQ(http.exchanges().size(), 1u);  // the first failure ends the passes
  EXPECT_EQ(outcome.kind(), OutcomeKind::NetworkFailure);
  EXPECT_TRUE(a->State & state::kIconWanted);
  EXPECT_TRUE(b->State & state::kIconWanted);
  EXPECT_EQ(progress.depth(), 0u);

  // A refusal the service states is a failure too ...
  http.SetHandler([](const platform::FakeHttpExchange&) { return Answer("LoginFailure"); });
  EXPECT_FALSE(store.UploadIcons(session, outcome));
  EXPECT_TRUE(a->State & state::kIconWanted);
  // ... but a service that answers nothing readable took the icons: this
  // answer has never been required.
  http.SetHandler([](const platform::FakeHttpExchange&) {
    return platform::FakeHttpReply::Ok("thanks");
  });
  EXPECT_TRUE(store.UploadIcons(session, outcome));
  EXPECT_TRUE(outcome.succeeded());
  EXPECT_FALSE(a->State & state::kIconWanted);
  // The files packed were extracted again for the later passes.
  EXPECT_FALSE(m.files.Exists(CacheFile("1")));
}

TEST_F(UploadsTest, TheCommentQueueKeepsOneCommentPerProgramWithItsLineEnds) {
  SoftwarePtr p = Install("Editor", "42");
  Install("Local", "");
  p->Flags |= flag::kAddedLater;
  EXPECT_FALSE(store.CommentDraftFor(static_cast<std::size_t>(store.FindByLocalId("Local"))));
  const std::size_t i = static_cast<std::size_t>(store.FindByLocalId("Editor"));

  CommentDialogResult first{true, "first", 0, false, false};
  ASSERT_TRUE(store.WriteComment(i, first));
  EXPECT_FALSE(p->Flags & flag::kAddedLater);
  CommentDialogResult second{true, "line one\nline two\r\nthree", 4, false, false};
  ASSERT_TRUE(store.WriteComment(i, second));
  EXPECT_EQ(p->UserRating, 4);
  ASSERT_EQ(store.QueuedComments().size(), 1u);
  EXPECT_EQ(store.QueuedComments()[0].Comment, "line one\r\nline two\r\nthree");
  const auto draft = store.CommentDraftFor(i);
  ASSERT_TRUE(draft);
  EXPECT_EQ(draft->text, "line one\r\nline two\r\nthree");
  EXPECT_EQ(draft->rating, 4);

  // Another process reads the file back with CR LF line ends.
  SoftwareListStore again{m.machine, folder, progress};
  again.Load();
  ASSERT_EQ(again.QueuedComments().size(), 1u);
  EXPECT_EQ(again.QueuedComments()[0], (QueuedComment{"42", "line one\r\nline two\r\nthree"}));
  EXPECT_EQ(again.FindQueuedComment("42"), 0);

  // A cancelled question about a new program is answered all the same, and
  // its "do not ask again" box is kept.
  p->Flags |= flag::kAddedLater;
  EXPECT_FALSE(store.WriteComment(i, {false, "", 0, true, true}));
  EXPECT_FALSE(p->Flags & flag::kAddedLater);
  EXPECT_EQ(app::Settings(m.registry).DontAskWriteCommentsForNewSoft(), 1);
  EXPECT_EQ(store.QueuedComments().size(), 1u);
}

TEST_F(UploadsTest, CommentsGoOutInOrderAndStayUntilTheServiceDecides) {
  SoftwarePtr a = Install("A", "1");
  SoftwarePtr b = Install("B", "2");
  SoftwarePtr c = Install("C", "3");
  // A's site rating was 2, among 10 ratings summing to 35; the user now says 4.
  a->RatingsCount = 10;
  a->RatingsSum = 35;
  a->UserRatingOnServer = 2;
  a->UserRating = 4;
  for (const char* name : {"A", "B", "C"}) {
    store.WriteComment(static_cast<std::size_t>(store.FindByLocalId(name)),
                       {true, std::string("about ") + name, 0, false, false});
  }
  int calls = 0;
  http.SetHandler([&calls](const platform::FakeHttpExchange&) {
    ++calls;
    if (calls == 1) return Answer("OK");
    if (calls == 2) return Answer("ExtendedError", "Your comment is too long.");
    return Dropped();
  });
  EXPECT_FALSE(store.SendComments(session, outcome));
  ASSERT_EQ(http.exchanges().size(), 2u);
  const std::string body = http.exchanges()[0].body;
  EXPECT_NE(body.find("&Id=1&Comment=about%20A&Rating=4"), std::string::npos) << body;
  EXPECT_EQ(http.exchanges()[1].body.find("Rating="), std::string::npos);
  EXPECT_EQ(outcome.Text(), "Your comment is too long.");
  EXPECT_EQ(a->RatingsCount, 10);
  EXPECT_EQ(a->RatingsSum, 37);
  EXPECT_EQ(a->UserRatingOnServer, 4);
  // Sent and refused ones are gone; C waits.
  ASSERT_EQ(store.QueuedComments().size(), 1u);
  EXPECT_EQ(store.QueuedComments()[0].Id, "3");

  EXPECT_FALSE(store.SendComments(session, outcome));  // dropped on the way
  EXPECT_EQ(store.QueuedComments().size(), 1u);
  SoftwareListStore again{m.machine, folder, progress};
  again.Load();
  EXPECT_EQ(again.QueuedComments().size(), 1u);
  EXPECT_EQ(again.At(static_cast<std::size_t>(again.FindByLocalId("A")))->RatingsSum, 37);

  http.SetHandler([](const platform::FakeHttpExchange&) { return Answer("OK"); });
  EXPECT_TRUE(store.SendComments(session, outcome));
  EXPECT_TRUE(store.QueuedComments().empty());
}

TEST_F(UploadsTest, ARatingIsSentOnce) {
  SoftwarePtr a = Install("A", "1");
  SoftwarePtr b = Install("B", "2");
  SoftwarePtr local = Install("L", "");
  a->UserRating = 5;
  b->UserRating = 3;
  b->UserRatingOnServer = 1;
  b->RatingsCount = 1;
  b->RatingsSum = 1;
  local->UserRating = 2;  // unknown to the service: nothing to send it to
  http.SetHandler([](const platform::FakeHttpExchange&) { return Answer("OK"); });
  bool re_rated = false, nothing_sent = true;
  ASSERT_TRUE(store.SendRatings(session, outcome, &re_rated, &nothing_sent));
  EXPECT_EQ(http.exchanges().size(), 2u);
  EXPECT_TRUE(re_rated);
  EXPECT_FALSE(nothing_sent);
  EXPECT_EQ(b->RatingsCount, 1);
  EXPECT_EQ(b->RatingsSum, 3);
  EXPECT_EQ(a->RatingsCount, 1);

  ASSERT_TRUE(store.SendRatings(session, outcome, &re_rated, &nothing_sent));
  EXPECT_EQ(http.exchanges().size(), 2u);
  EXPECT_TRUE(nothing_sent);
  EXPECT_FALSE(re_rated);

  // A failure keeps the rating pending; the ones sent before it stay sent.
  a->UserRating = 1;
  b->UserRating = 2;
  int calls = 0;
  http.SetHandler([&calls](const platform::FakeHttpExchange&) {
    return ++calls == 1 ? Answer("OK") : Answer("UnexpectedError");
  });
  EXPECT_FALSE(store.SendRatings(session, outcome));
  EXPECT_EQ(a->UserRatingOnServer, 1);
  EXPECT_EQ(b->UserRatingOnServer, 3);
  SoftwareListStore again{m.machine, folder, progress};
  again.Load();
  EXPECT_EQ(again.At(static_cast<std::size_t>(again.FindByLocalId("A")))->UserRatingOnServer, 1);
}


TEST_F(UploadsTest, CachedIconsFollowTheirSourceAndTheirName) {
  SoftwarePtr p = Install("Viewer", "");
  const std::string by_local = CacheFile("local_Viewer");
  ASSERT_TRUE(m.files.Exists(by_local));
  // A key that looks like an identifier keeps apart from the program that
  // has that identifier.
  SoftwareInfo other;
  other.GlobalId = "Viewer";
  EXPECT_EQ(IconCacheName(other), "Viewer");
  EXPECT_EQ(IconCacheName(*p), "local_Viewer");
  for (const char* bad : {"CON", "nul.txt", "COM1", "a/b", "a\x01b", "x."}) {
    other.GlobalId = bad;
    EXPECT_EQ(IconCacheName(other), "") << bad;
  }

  // The program's icon changes with an update: the cached one goes with the old.
  const std::string exe = "C:\\Program Files\\Viewer\\Viewer.exe";
  m.files.AddFile("C:\\Program Files\\Viewer\\new.exe",
                  platform::BuildPeImage(nullptr, {{1, "", {24}}}));
  m.registry.Write(RootKey::LocalMachine, std::string(kUninstall) + "Viewer", "DisplayIcon",
                   RegValue::String("C:\\Program Files\\Viewer\\new.exe"));
  m.registry.Write(RootKey::LocalMachine, std::string(kUninstall) + "Viewer", "DisplayVersion",
                   RegValue::String("1.1"));
  ASSERT_TRUE(store.Refresh());
  auto group = platform::ReadIconGroup(m.files.ReadAll(by_local).value_or(""), 0);
  ASSERT_TRUE(group);
  ASSERT_EQ(group->images.size(), 1u);
  EXPECT_EQ(group->images[0].width, 24);

  // Identified by the service: the file under the old name goes.
  auto doc = store::XmlDocument::Parse(R"(<Programs><P DN="Viewer" ID="31"/></Programs>)");
  ASSERT_TRUE(store.ApplyProgramsAnswer(doc->Root(), {}));
  EXPECT_EQ(p->GlobalId, "31");
  EXPECT_FALSE(m.files.Exists(by_local));
  EXPECT_EQ(store.CachedIconPath(*p), CacheFile("31"));
}

TEST_F(UploadsTest, AnIconTooLargeForTheServiceIsLeftOut) {
  SoftwarePtr big = Install("A", "1");
  SoftwarePtr small = Install("B", "2");
  big->State |= state::kIconWanted;
  small->State |= state::kIconWanted;
  m.files.AddFile(CacheFile("1"), std::string(300000, 'x'));
  http.SetHandler([](const platform::FakeHttpExchange&) { return Answer("OK"); });
  ASSERT_TRUE(store.UploadAllIcons(session, outcome));
  ASSERT_EQ(http.exchanges().size(), 1u);
  EXPECT_EQ(Names(ArchiveIn(http.exchanges()[0].body)), (std::vector<std::string>{"2.ico"}));
  EXPECT_FALSE(big->State & state::kIconWanted);  // counted as done
}

TEST_F(UploadsTest, TheListIsNotHeldWhileCommentsAndRatingsTravel) {
  SoftwarePtr a = Install("A", "1");
  const std::size_t i = static_cast<std::size_t>(store.FindByLocalId("A"));
  ASSERT_TRUE(store.WriteComment(i, {true, "first", 3, false, false}));
  // The user rewrites the comment and rates again while the first one is
  // on its way: both changes stay, for the next round.
  bool rewritten = false;
  http.SetHandler([&](const platform::FakeHttpExchange&) {
    if (!rewritten) {
      rewritten = true;
      EXPECT_TRUE(store.WriteComment(i, {true, "second", 5, false, false}));
    }
    return Answer("OK");
  });
  ASSERT_TRUE(store.SendComments(session, outcome));
  ASSERT_EQ(http.exchanges().size(), 2u);
  EXPECT_NE(http.exchanges()[0].body.find("Comment=first&Rating=3"), std::string::npos);
  EXPECT_NE(http.exchanges()[1].body.find("Comment=second&Rating=5"), std::string::npos);
  EXPECT_EQ(a->UserRatingOnServer, 5);
  EXPECT_EQ(a->RatingsCount, 1);
  EXPECT_EQ(a->RatingsSum, 5);
  EXPECT_TRUE(store.QueuedComments().empty());

  // An emptied comment withdraws the queued one; a stale index does nothing.
  ASSERT_TRUE(store.WriteComment(i, {true, "third", 0, false, false}));
  EXPECT_FALSE(store.WriteComment(i, {true, " \r\n ", 0, false, false}));
  EXPECT_TRUE(store.QueuedComments().empty());
  EXPECT_FALSE(store.WriteComment(99, {true, "x", 0, false, false}));
  EXPECT_FALSE(store.CommentDraftFor(99));

  // The service's totals are saturated: counting one more stays in range.
  a->RatingsSum = INT32_MAX;
  a->RatingsCount = INT32_MAX;
  a->UserRatingOnServer = 0;
  a->UserRating = 4;
  ASSERT_TRUE(store.SendRatings(session, outcome));
  EXPECT_EQ(a->RatingsSum, INT32_MAX);
  EXPECT_EQ(a->RatingsCount, INT32_MAX);
}

}  // namespace
}  // namespace kv::service
