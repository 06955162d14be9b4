// The catalogue the service starts with.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "catalogue/catalogue_csv.h"
#include "catalogue/program_key.h"

namespace kv::server {
namespace {

TEST(ShippedCatalogue, ParsesWithDistinctKeysAndShortNames) {
  auto rows = ReadCatalogueCsvFile(std::string(KV_SERVER_DATA_DIR) + "/catalogue.csv");
  ASSERT_TRUE(rows.ok()) << rows.status().ToString();
  EXPECT_GE(rows->size(), 300u);
  EXPECT_LE(rows->size(), 400u);

  std::map<std::string, std::string> keys, short_names;
  for (const CatalogueRow& row : *rows) {
    const std::string key = CatalogueKeyOf({row.name, "", row.publisher, "", false});
    const auto [k, new_key] = keys.emplace(key, row.name);
    EXPECT_TRUE(new_key) << row.name << " and " << k->second << " share " << key;
    const auto [s, new_short] = short_names.emplace(ShortName(row.name), row.name);
    EXPECT_TRUE(new_short) << row.name << " and " << s->second << " share " << s->first;
    EXPECT_NE(s->first, "program") << row.name;
    // Versions come from operators and users, never from the shipped file.
    EXPECT_TRUE(row.stable.empty() && row.beta.empty()) << row.name;
  }
  // Operators' exports read back as they were written.
  EXPECT_EQ(ParseCatalogueCsv(WriteCatalogueCsv(*rows)).value(), *rows);
}

}  // namespace
}  // namespace kv::server
