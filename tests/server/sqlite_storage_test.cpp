#include "storage/sqlite_storage.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "storage/schema.h"

namespace kv::server {
namespace {

namespace fs = std::filesystem;

class SqliteStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvstoreXXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/korvan.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<Storage> Open() {
    auto s = OpenSqliteStorage(path_);
    EXPECT_TRUE(s) << s.status().ToString();
    return s ? std::move(s).value() : nullptr;
  }
  static std::unique_ptr<Transaction> Tx(Storage& s, bool write = true) {
    auto tx = s.Begin(write);
    EXPECT_TRUE(tx) << tx.status().ToString();
    return std::move(tx).value();
  }
  static Program NewProgram(std::string key, std::string short_name) {
    Program p;
    p.match_key = std::move(key);
    p.name = p.match_key;
    p.short_name = std::move(short_name);
    return p;
  }

  std::string dir_, path_;
};

TEST_F(SqliteStorageTest, MigratesOnceAndKeepsWhatWasCommitted) {
  Id user = 0;
  {
    auto s = Open();
    EXPECT_EQ(s->SchemaVersion(), static_cast<int>(SchemaMigrations().size()));
    auto tx = Tx(*s);
    User u;
    u.email = "ann@example.com";
    u.credential = "hash";
    user = *tx->AddUser(u);
    ASSERT_TRUE(tx->Commit());
    // Not committed: gone with the transaction.
    auto lost = Tx(*s);
    User v;
    v.email = "bob@example.com";
    v.credential = "x";
    ASSERT_TRUE(lost->AddUser(v));
  }
  auto s = Open();  // a second start migrates nothing and finds the data
  EXPECT_EQ(s->SchemaVersion(), static_cast<int>(SchemaMigrations().size()));
  auto tx = Tx(*s, false);
  ASSERT_TRUE(tx->FindUser(user));
  EXPECT_EQ(tx->FindUserByEmail("ann@example.com")->id, user);
  EXPECT_FALSE(tx->FindUserByEmail("bob@example.com"));
  EXPECT_EQ(tx->Counts().users, 1);
}

TEST_F(SqliteStorageTest, ReadersSeeTheLastCommitWhileAWriteRuns) {
  auto s = Open();
  auto write = Tx(*s);
  ASSERT_TRUE(write->AddProgram(NewProgram("firefox|mozilla", "mozilla-firefox")));
  {
    auto read = Tx(*s, false);  // does not wait for the writer
    EXPECT_FALSE(read->FindProgramByKey("firefox|mozilla"));
  }
  ASSERT_TRUE(write->Commit());
  auto read = Tx(*s, false);
  EXPECT_TRUE(read->FindProgramByKey("firefox|mozilla"));
  // Keys and page names are unique.
  auto again = Tx(*s);
  auto dup = again->AddProgram(NewProgram("firefox|mozilla", "other"));
  EXPECT_TRUE(dup.status().Is(platform::ErrorKind::AlreadyExists)) << dup.status().ToString();
}

TEST_F(SqliteStorageTest, InstallsCountersAndAGuestMergedIntoAnAccount) {
  auto s = Open();
  auto tx = Tx(*s);
  User guest;
  guest.is_guest = true;
  guest.credential = "g";
  const Id g = *tx->AddUser(guest);
  User ann;
  ann.email = "ann@example.com";
  ann.credential = "a";
  const Id a = *tx->AddUser(ann);
  const Id m1 = *tx->TouchMachine("GUID1", g, "17", 100);
  const Id m2 = *tx->TouchMachine("GUID2", a, "17", 100);
  EXPECT_EQ(*tx->TouchMachine("GUID1", g, "18", 200), m1);  // the same machine
  const Id p = *tx->AddProgram(NewProgram("7-zip|igor pavlov", "7-zip"));
  ASSERT_TRUE(tx->PutInstall({m1, p, g, "23.1", false, "7-Zip 23.01 (x64)", "7-Zip", 100}));
  ASSERT_TRUE(tx->PutInstall({m2, p, a, "23.1", false, "7-Zip 23.01 (x64)", "7-Zip", 100}));
  ASSERT_TRUE(tx->PutInstall({m2, p, a, "24.8", false, "7-Zip 23.01 (x64)", "7-Zip", 200}));
  // Another entry of the same program on the same machine stays apart.
  ASSERT_TRUE(tx->PutInstall({m2, p, a, "24.8", true, "7-Zip 23.01 (x86)", "7-Zip", 200}));
  ASSERT_TRUE(tx->SetRating(g, p, 4));
  ASSERT_TRUE(tx->SetRating(a, p, 5));
  ASSERT_TRUE(tx->AddComment({0, p, g, "Fast.", 100}));
  ASSERT_EQ(tx->InstallsOn(m2).size(), 2u);
  EXPECT_EQ(tx->InstallsOn(m2).at(0).version, "24.8");  // replaced, not added
  ProgramCounters c = tx->Counters(p);
  EXPECT_EQ(c.users, 2);
  EXPECT_EQ(c.ratings, 2);
  EXPECT_EQ(c.rating_sum, 9);
  EXPECT_EQ(c.comments, 1);
  // Many programs counted at once, each its own (ids of comments and
  // programs never line up by chance here).
  const Id p2 = *tx->AddProgram(NewProgram("notepad++|don ho", "notepad-plus-plus"));
  ASSERT_TRUE(tx->AddComment({0, p2, a, "Light.", 100}));
  ASSERT_TRUE(tx->AddComment({0, p2, g, "Plugins.", 100}));
  const Id both[] = {p2, p};
  const auto counted = tx->CountersOf(both);
  ASSERT_EQ(counted.size(), 2u);
  EXPECT_EQ(counted.at(p).comments, 1);
  EXPECT_EQ(counted.at(p2).comments, 2);
  EXPECT_EQ(counted.at(p2).users, 0);
  EXPECT_EQ(tx->VersionsSeenOf(both).count(p2), 0u);
  const auto seen = tx->VersionsSeen(p);
  ASSERT_EQ(seen.size(), 3u);  // 23.1, 24.8 and 24.8 beta, each by one user
  for (const VersionSeen& v : seen) EXPECT_EQ(v.users, 1) << v.version;
  // An answer's view: the stats as stored, the user's rating, no icon yet.
  ASSERT_TRUE(tx->PutProgramStats(p, {c, "24.8", ""}));
  ASSERT_TRUE(tx->PutIcon(p, "ico"));
  const auto on = tx->ProgramsOn(m2, a);
  ASSERT_EQ(on.size(), 2u);
  EXPECT_EQ(on[0].program.short_name, "7-zip");
  EXPECT_EQ(on[0].stats.counters.users, 2);
  EXPECT_EQ(on[0].stats.learned_stable, "24.8");
  EXPECT_EQ(on[0].user_rating, 5);
  EXPECT_TRUE(on[0].has_icon);
  EXPECT_EQ(on[1].install.display_name, "7-Zip 23.01 (x86)");
  EXPECT_TRUE(tx->IsInstalledBy(a, p));

  // The same GUID under another account is another machine: nobody takes
  // over someone else's machine by knowing its identifier.
  const Id other = *tx->TouchMachine("GUID2", g, "17", 300);
  EXPECT_NE(other, m2);
  EXPECT_TRUE(tx->InstallsOn(other).empty());
  EXPECT_EQ(tx->InstallsOn(m2).size(), 2u);

  // The guest registers as Ann: one user with both machines, her own rating
  // kept; of the machine both knew, the guest's side (it reported last).
  ASSERT_TRUE(tx->MergeUser(g, a));
  EXPECT_FALSE(tx->FindUser(g));
  EXPECT_EQ(*tx->TouchMachine("GUID2", a, "17", 400), other);
  EXPECT_EQ(*tx->TouchMachine("GUID1", a, "17", 400), m1);
  EXPECT_EQ(tx->ProgramsOfUser(a), std::vector<Id>{p});
  c = tx->Counters(p);
  EXPECT_EQ(c.users, 1);
  EXPECT_EQ(c.ratings, 1);
  EXPECT_EQ(tx->RatingOf(a, p), 5);
  EXPECT_EQ(tx->CommentsOn(p, 10).at(0).user_id, a);
  ASSERT_TRUE(tx->RemoveInstall(m1, p));
  EXPECT_TRUE(tx->InstallsOn(m1).empty());
  ASSERT_TRUE(tx->Commit());
}

TEST_F(SqliteStorageTest, UsageLogsAreCappedAndNewsShownOnce) {
  auto s = Open();
  auto tx = Tx(*s);
  User u;
  u.credential = "x";
  const Id user = *tx->AddUser(u);
  const Id m = *tx->TouchMachine("G", user, "17", 1);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(tx->AddUsageLog(m, std::string(400, 'a' + i), i, 1000));
  EXPECT_EQ(tx->UsageLogBytes(m), 800);  // the two newest fit

  const Id n1 = *tx->AddNews({0, "08.12.2026", "Korvan 1.1", "http://x/1", 10});
  ASSERT_TRUE(tx->AddNews({0, "09.12.2026", "Tips", "", 11}));
  EXPECT_EQ(tx->UnseenNews(m).size(), 2u);
  ASSERT_TRUE(tx->MarkNewsSeen(m, n1));
  ASSERT_TRUE(tx->MarkNewsSeen(m, n1));  // twice is fine
  ASSERT_EQ(tx->UnseenNews(m).size(), 1u);
  EXPECT_EQ(tx->UnseenNews(m)[0].title, "Tips");
  ASSERT_TRUE(tx->Commit());
}

TEST_F(SqliteStorageTest, AFailedStatementSpoilsItsTransaction) {
  auto s = Open();
  {
    auto tx = Tx(*s);
    ASSERT_TRUE(tx->AddProgram(NewProgram("a|", "same")));
    EXPECT_FALSE(tx->AddProgram(NewProgram("b|", "same")));  // short names are unique
    EXPECT_FALSE(tx->status());
    ASSERT_TRUE(tx->AddProgram(NewProgram("c|", "other")));
    EXPECT_FALSE(tx->Commit());  // the half-done request is not kept
  }
  auto tx = Tx(*s, false);
  EXPECT_EQ(tx->Counts().programs, 0);
  EXPECT_TRUE(tx->status());
}

TEST_F(SqliteStorageTest, AMigrationThatFailsLeavesTheDatabaseAsItWas) {
  { Open(); }
  // A database from a newer service, or one damaged by hand: a table in the way.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "UPDATE schema_version SET version = 1; DROP TABLE news_seen;", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  auto again = OpenSqliteStorage(path_);
  ASSERT_FALSE(again);
  EXPECT_NE(again.status().message().find("schema migration 2"), std::string::npos)
      << again.status().ToString();
}

}  // namespace
}  // namespace kv::server
