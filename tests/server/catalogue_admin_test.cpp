#include "catalogue/catalogue_admin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "storage/sqlite_storage.h"

namespace kv::server {
namespace {

namespace fs = std::filesystem;

bool IsHostLabel(const std::string& s) {
  if (s.empty() || s.size() > kMaxShortName || s.front() == '-' || s.back() == '-') return false;
  for (const char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

// "aa", "ab", ...: names without digits, which keys would drop as versions.
std::string Letters(int i) {
  return {static_cast<char>('a' + i / 26 % 26), static_cast<char>('a' + i % 26)};
}

class CatalogueAdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvadminXXXXXX";
    dir_ = mkdtemp(tmpl);
    auto storage = OpenSqliteStorage(dir_ + "/korvan.db");
    ASSERT_TRUE(storage) << storage.status().ToString();
    storage_ = std::move(storage).value();
    auto tx = storage_->Begin(true);
    ASSERT_TRUE(tx) << tx.status().ToString();
    tx_ = std::move(tx).value();
  }
  void TearDown() override {
    tx_.reset();
    storage_.reset();
    fs::remove_all(dir_);
  }

  // The publisher tells entries of one name apart.
  Program Add(const std::string& name, const std::string& publisher) {
    auto p = FindOrAddProgram(*tx_, {name, "", publisher, "", false}, 100);
    EXPECT_TRUE(p) << p.status().ToString();
    return p.value_or(Program{});
  }

  std::string dir_;
  std::unique_ptr<Storage> storage_;
  std::unique_ptr<Transaction> tx_;
};

TEST_F(CatalogueAdminTest, AKnownProgramIsFoundNotAddedAgain) {
  const Program first = Add("Mozilla Firefox", "Mozilla");
  EXPECT_EQ(first.short_name, "mozilla-firefox");
  EXPECT_EQ(first.publisher_short, "mozilla");
  // Another build, as another machine names it.
  auto again = FindOrAddProgram(*tx_, {"", "Mozilla Firefox 121.0 (x64 en-US)", "Mozilla Corporation", "", false}, 200);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->id, first.id);
  EXPECT_EQ(again->created_at, 100);
  EXPECT_EQ(tx_->Counts().programs, 1);
}

TEST_F(CatalogueAdminTest, ASharedShortNameTakesTheEntrysOwnId) {
  EXPECT_EQ(Add("Foo", "Alpha").short_name, "foo");
  std::set<std::string> names = {"foo"};
  for (int i = 0; i < 40; ++i) {
    // Other programs in between, so ids and the count of namesakes differ.
    Add("Other " + Letters(i), "");
    const Program p = Add("Foo", "Vendor" + Letters(i));
    EXPECT_EQ(p.short_name, "foo-" + std::to_string(p.id));
    EXPECT_TRUE(names.insert(p.short_name).second) << p.short_name;
    // What the caller got is what is stored.
    EXPECT_EQ(tx_->FindProgramByShortName(p.short_name)->id, p.id);
  }
}

TEST_F(CatalogueAdminTest, ANameThatLooksLikeASuffixedOneStaysUnique) {
  Add("Foo", "Alpha");
  // Its own name gives "foo-3": the next "foo" entry will have id 3.
  const Program natural = Add("Foo 3", "Beta");
  EXPECT_EQ(natural.short_name, "foo-3");
  const Program third = Add("Foo", "Gamma");
  EXPECT_EQ(third.id, 3);
  EXPECT_NE(third.short_name, natural.short_name);
  EXPECT_TRUE(IsHostLabel(third.short_name)) << third.short_name;
  EXPECT_EQ(tx_->FindProgramByShortName(third.short_name)->id, third.id);
}

TEST_F(CatalogueAdminTest, LongNamesKeepOneLabelWithTheSuffix) {
  const std::string name(80, 'x');
  std::set<std::string> names;
  for (int i = 0; i < 12; ++i) {
    const Program p = Add(name, "Vendor" + Letters(i));
    EXPECT_TRUE(IsHostLabel(p.short_name)) << p.short_name;
    EXPECT_TRUE(names.insert(p.short_name).second) << p.short_name;
  }
}

TEST_F(CatalogueAdminTest, ImportAddsNewRowsAndUpdatesOnlyWhatTheFileSays) {
  auto first = ImportCatalogue(*tx_,
                               {{"7-Zip", "Igor Pavlov", "23.01", "", ""},
                                {"Mozilla Firefox", "Mozilla", "121.0", "122.0b3", "https://www.mozilla.org/"}},
                               100);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->added, 2u);
  EXPECT_EQ(first->updated, 0u);
  // Known rows: empty fields keep what is stored; unchanged ones count as
  // nothing done.
  auto second = ImportCatalogue(*tx_,
                                {{"7-Zip", "Igor Pavlov", "23.01", "", ""},
                                 {"Mozilla Firefox", "Mozilla", "122.0", "", ""},
                                 {"WinMerge", "", "", "", ""}},
                                200);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->added, 1u);
  EXPECT_EQ(second->updated, 1u);
  const std::vector<Program> firefox = FindByName(*tx_, "mozilla firefox", "");
  ASSERT_EQ(firefox.size(), 1u);
  EXPECT_EQ(firefox[0].stable_version, "122.0");
  EXPECT_EQ(firefox[0].beta_version, "122.0b3");
  EXPECT_EQ(firefox[0].home_page, "https://www.mozilla.org/");
}

TEST_F(CatalogueAdminTest, FindByNameMatchesWholeNamesAndNarrowsByPublisher) {
  Add("Foo", "Alpha Software Inc.");
  Add("Foo", "Beta");
  Add("Foo Bar", "Alpha");
  EXPECT_EQ(FindByName(*tx_, "FOO", "").size(), 2u);
  const std::vector<Program> alpha = FindByName(*tx_, "foo", "Alpha");
  ASSERT_EQ(alpha.size(), 1u);
  EXPECT_EQ(alpha[0].publisher, "Alpha Software Inc.");
  EXPECT_TRUE(FindByName(*tx_, "Fo", "").empty());
}

TEST_F(CatalogueAdminTest, AProgramReportedByItsDisplayNameGetsAPageWithoutItsVersion) {
  auto p = FindOrAddProgram(*tx_, {"", "Foo Editor 2.1 (x64)", "Foo Ltd", "2.1", false}, 100);
  ASSERT_TRUE(p) << p.status().ToString();
  EXPECT_EQ(p->short_name, "foo-editor");
  // The next version finds the same entry.
  auto next = FindOrAddProgram(*tx_, {"", "Foo Editor 2.2 (x64)", "Foo Ltd", "2.2", false}, 200);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->id, p->id);
}

}  // namespace
}  // namespace kv::server
