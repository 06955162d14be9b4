#include <gtest/gtest.h>

#include "inventory/release_status.h"

namespace kv::inventory {
namespace {

std::string FromName(std::string name) {
  ReleaseStatusInput in;
  in.display_name = std::move(name);
  return DetermineReleaseStatus(in);
}

TEST(ReleaseStatus, DisplayNameIsSearchedBeforeAndAfterCleaning) {
  EXPECT_EQ(FromName("Foo Player 2.0 Beta"), "Beta");  // cleaning would drop it
  EXPECT_EQ(FromName("Foo RC2"), "RC");                // only cleaning cuts it to RC
  EXPECT_EQ(FromName("Foo Alpha Beta RC"), "Alpha");
  EXPECT_EQ(FromName("Foo Beta2"), "Beta");
  EXPECT_EQ(FromName("Foo Player 2.0"), "Release");
  EXPECT_EQ(FromName("Foo (beta)"), "Release");  // brackets count only in the other texts
  EXPECT_EQ(FromName("Alphabet Betamax ARC2"), "Release");
  EXPECT_EQ(FromName(""), "Release");
  EXPECT_EQ(FromName("\xFF\xFE Foo"), "Release");
  EXPECT_EQ(FromName("Foo beta\xC3"), "Beta");  // the stray byte filters away
}

TEST(ReleaseStatus, FirstTextWithAMarkerDecides) {
  ReleaseStatusInput in;
  in.display_name = "Foo Beta";
  in.special_build = "PreRelease";
  EXPECT_EQ(DetermineReleaseStatus(in), "PreRelease");  // all eight texts come first
  in.product_name = "Foo (RC3)";
  EXPECT_EQ(DetermineReleaseStatus(in), "RC3");
  in.file_description = "Foo rc";
  EXPECT_EQ(DetermineReleaseStatus(in), "RC");
  in.display_version = "2.0 ALPHA beta";
  EXPECT_EQ(DetermineReleaseStatus(in), "Alpha");

  ReleaseStatusInput v;
  v.version.suffix = " (beta)";
  EXPECT_EQ(DetermineReleaseStatus(v), "Beta");
  v.product_version = "1.0 RC6";  // only the suffix of the string is read
  EXPECT_EQ(DetermineReleaseStatus(v), "RC6");
  v.product_version = "1.0 RC7";
  EXPECT_EQ(DetermineReleaseStatus(v), "Beta");
  v.internal_name = "beta.exe";
  EXPECT_EQ(DetermineReleaseStatus(v), "Beta");
}

TEST(ReleaseStatus, ShortVersionSuffixes) {
  const auto status = [](const char* product, const char* file) {
    ReleaseStatusInput in;
    in.product_version = product;
    in.file_version = file;
    in.display_name = "Foo RC";
    return DetermineReleaseStatus(in);
  };
  EXPECT_EQ(status("1.0a", ""), "Alpha");
  EXPECT_EQ(status("1.0 A", ""), "Alpha");
  EXPECT_EQ(status("1.0a3", ""), "Alpha 3");
  EXPECT_EQ(status("1.0 b7", ""), "Beta 7");
  EXPECT_EQ(status("1.0B", "1.0a"), "Beta");  // the product version comes first
  EXPECT_EQ(status("1.0", "2.1b2"), "Beta 2");
  EXPECT_EQ(status("1.0b0", ""), "RC");
  EXPECT_EQ(status("1.0b12", ""), "RC");
  EXPECT_EQ(status("1.0  b", ""), "RC");
  EXPECT_EQ(status("a", ""), "RC");  // no number, so no suffix
}

}  // namespace
}  // namespace kv::inventory
