#include "catalogue/catalogue_csv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv::server {
namespace {

using platform::ErrorKind;

CatalogueRow Row(std::string name, std::string publisher = "", std::string stable = "",
                 std::string beta = "", std::string home = "") {
  return {std::move(name), std::move(publisher), std::move(stable), std::move(beta),
          std::move(home)};
}

std::vector<CatalogueRow> Parse(std::string_view text) {
  auto rows = ParseCatalogueCsv(text);
  EXPECT_TRUE(rows.ok()) << rows.status().ToString();
  return rows.value_or(std::vector<CatalogueRow>{});
}

// The failure's message, or "" when the text parsed.
std::string Error(std::string_view text, const CatalogueLimits& limits = {}) {
  auto rows = ParseCatalogueCsv(text, limits);
  if (rows) return "";
  EXPECT_TRUE(rows.status().Is(ErrorKind::Corrupt));
  return rows.status().message();
}

TEST(CatalogueCsv, ReadsQuotingLineEndsAndBlankLines) {
  const std::string text =
      "\xEF\xBB\xBFname,publisher,stable,beta,home_page\r\n"
      "\r\n"
      "Mozilla Firefox,Mozilla,121.0,122.0b3,https://www.mozilla.org/\r\n"
      "   \n"
      "\"Epic Games Launcher\",\"Epic Games, Inc.\",,,\n"
      "\"Say \"\"hi\"\"\",\"two\nlines\",,,\n"
      " Trimmed , \" kept \" ,,,";
  EXPECT_EQ(Parse(text),
            (std::vector<CatalogueRow>{
                Row("Mozilla Firefox", "Mozilla", "121.0", "122.0b3", "https://www.mozilla.org/"),
                Row("Epic Games Launcher", "Epic Games, Inc."), Row("Say \"hi\"", "two\nlines"),
                Row("Trimmed", " kept ")}));
}

TEST(CatalogueCsv, ColumnsFollowTheHeader) {
  EXPECT_EQ(Parse("Publisher,NAME\nMozilla,Mozilla Firefox\n"),
            (std::vector<CatalogueRow>{Row("Mozilla Firefox", "Mozilla")}));
  EXPECT_EQ(Parse("name\n7-Zip\n"), (std::vector<CatalogueRow>{Row("7-Zip")}));
  EXPECT_TRUE(Parse("name,publisher\n\n").empty());
}

TEST(CatalogueCsv, MalformedInputNamesTheLineAndTheReason) {
  const std::string h = "name,publisher,stable,beta,home_page\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"\n\n", "line 1: no header line"},
      {"name,publisher,version\n", "line 1: unknown column \"version\""},
      {"name,publisher,name\n", "line 1: column \"name\" given twice"},
      {"publisher,beta\n", "line 1: no \"name\" column"},
      {h + "A,B,,,\n\nC,D,,\n", "line 4: expected 5 fields, found 4"},
      // A line break inside quotes still counts as a line.
      {h + "\"A\nB\",P,,,\nC,D,,,,\n", "line 4: expected 5 fields, found 6"},
      {h + "A,B,,,\n\"Open,P,,,\nC,D,,,\n", "line 3: a quoted field is not closed"},
      {h + "\"A\"x,B,,,\n", "line 2: text after a closing quote"},
      {h + "A \"B\",C,,,\n", "line 2: a quote inside an unquoted field"},
      {h + "A,B,,,\rC,D,,,\n", "line 2: a carriage return without a line feed"},
      {h + " ,B,,,\n", "line 2: the name is empty"},
      {h + "A,B,,beta,\n", "line 2: beta \"beta\" is not a version"},
      {h + "A,B,,,ftp://example.org/\n", "line 2: home_page is not an http or https address"},
      {h + "A\xC3,B,,,\n", "line 2: name is not valid UTF-8"},
  };
  for (const auto& c : cases) EXPECT_EQ(Error(c.text), c.message) << c.text;
}

TEST(CatalogueCsv, LimitsAreErrors) {
  const std::string h = "name,publisher\n";
  EXPECT_EQ(Error(h + std::string(256, 'n') + "," + std::string(256, 'p') + "\n"), "");
  EXPECT_EQ(Error(h + std::string(257, 'n') + ",P\n"), "line 2: name is longer than 256 bytes");
  EXPECT_EQ(Error(h + "N," + std::string(257, 'p') + "\n"),
            "line 2: publisher is longer than 256 bytes");
  CatalogueLimits two;
  two.max_rows = 2;
  EXPECT_EQ(Error(h + "A,\nB,\n", two), "");
  EXPECT_EQ(Error(h + "A,\n\nB,\nC,\n", two), "line 5: more than 2 rows");
}

TEST(CatalogueCsv, WriterQuotesOnlyWhatNeedsItAndReadsBack) {
  EXPECT_EQ(CsvField("Mozilla Firefox"), "Mozilla Firefox");
  EXPECT_EQ(CsvField("Epic Games, Inc."), "\"Epic Games, Inc.\"");
  EXPECT_EQ(CsvField("Say \"hi\""), "\"Say \"\"hi\"\"\"");
  const std::vector<CatalogueRow> rows = {
      Row("Notepad++", "Notepad++ Team", "8.6", "", "https://notepad-plus-plus.org/"),
      Row("A, \"B\"", "line\r\nbreak", "1.0 beta 2", "2.0"), Row("\ttabbed ", ""),
      Row("Viber", "Viber Media S.\xC3\xA0 r.l.")};
  const std::string text = WriteCatalogueCsv(rows);
  EXPECT_TRUE(text.starts_with("name,publisher,stable,beta,home_page\n"));
  EXPECT_EQ(Parse(text), rows);
}

TEST(CatalogueCsv, MissingFileIsNotFound) {
  auto rows = ReadCatalogueCsvFile("/nonexistent/korvan/catalogue.csv");
  EXPECT_TRUE(rows.status().Is(ErrorKind::NotFound));
}

}  // namespace
}  // namespace kv::server
