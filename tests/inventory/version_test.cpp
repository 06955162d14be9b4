#include <gtest/gtest.h>

#include <climits>

#include "inventory/version.h"

namespace kv::inventory {
namespace {

ProgramVersion Parse(std::string_view text) {
  ProgramVersion v;
  ParseVersion(text, v);
  return v;
}

std::string Round(std::string_view text) {
  const ProgramVersion v = Parse(text);
  return v.IsPresent() ? FormatVersion(v) : "(none)";
}

bool Older(std::string_view a, std::string_view b) { return IsOlderVersion(Parse(a), Parse(b)); }

TEST(ParseVersion, ReadsComponentsZerosAndSuffix) {
  EXPECT_EQ(Round("1, 0, 2, 5"), "1.0.2.5");
  const ProgramVersion v = Parse("3.01 beta 2");
  ASSERT_EQ(v.components.size(), 2u);
  EXPECT_EQ(v.components[1], (VersionComponent{1, 1}));
  EXPECT_EQ(v.suffix, " beta 2");
  EXPECT_EQ(Parse("007").components[0], (VersionComponent{7, 2}));
  EXPECT_EQ(Parse("00").components[0], (VersionComponent{0, 0}));
  EXPECT_EQ(Parse("1.0a").suffix, "a");
  EXPECT_EQ(Parse("  2 . 5 ,7 x").components.size(), 3u);
}

TEST(ParseVersion, SkipsLeadingDateAndV) {
  EXPECT_EQ(Round("12/31/2007 1.2"), "1.2");
  EXPECT_EQ(Round("V2.0"), "2.0");
  EXPECT_EQ(Round("v 3"), "3");
  EXPECT_EQ(Parse("12/31 1.2").components.size(), 1u);  // no date: '/' ends the number
}

TEST(ParseVersion, DropsTrailingZeroComponentsDownToTwo) {
  EXPECT_EQ(Parse("1.0.0.0").components.size(), 2u);
  EXPECT_EQ(Round("2.0"), "2.0");
  EXPECT_EQ(Round("1.2.0"), "1.2");
  EXPECT_EQ(Round("1.0.3.0"), "1.0.3");
}

TEST(ParseVersion, NothingPresentLeavesNoSuffix) {
  for (const char* text : {"", "v", ".", "beta", "Build 5", "   "}) {
    ProgramVersion v;
    v.suffix = "old";
    v.components.push_back({9, 0});
    EXPECT_FALSE(ParseVersion(text, v)) << text;
    EXPECT_FALSE(v.IsPresent()) << text;
    EXPECT_EQ(v.suffix, "") << text;
  }
}

TEST(ParseVersion, HugeDigitRunsSaturate) {
  EXPECT_EQ(Parse("20231015123045").components[0].value, INT32_MAX);
  EXPECT_EQ(Parse("2147483648").components[0].value, INT32_MAX);
  EXPECT_EQ(Parse("2147483646").components[0].value, 2147483646);
  EXPECT_EQ(Parse("0000000000000000000000000001").components[0], (VersionComponent{1, 27}));
  EXPECT_EQ(Round("1.99999999999999999999999"), "1.2147483647");
  // A date-like build still orders above any ordinary build number.
  EXPECT_TRUE(Older("1.0.999999", "1.0.20231015123045"));
}

TEST(ParseVersion, MalformedBytesAreJustText) {
  EXPECT_EQ(Round("\xff\xfe"), "(none)");
  const ProgramVersion v = Parse("1.2\xc3");
  EXPECT_EQ(v.components.size(), 2u);
  EXPECT_EQ(v.suffix, "\xc3");
}

TEST(FormatVersion, WritesZerosAndKeepsSuffix) {
  EXPECT_EQ(Round("1.05 beta"), "1.05 beta");
  ProgramVersion v;
  v.components = {{4, 0}, {0, 0}, {0, 0}, {0, 0}};
  EXPECT_EQ(FormatVersion(v), "4.0");
  v.suffix = "-rc";
  v.components = {{0, 0}};
  EXPECT_EQ(FormatVersion(v), "0-rc");
}

TEST(IsOlderVersion, OrdersLikeDecimalFractionsPerComponent) {
  EXPECT_TRUE(Older("1.05", "1.5"));
  EXPECT_TRUE(Older("1.5", "1.10"));
  EXPECT_TRUE(Older("1.05", "1.10"));
  EXPECT_TRUE(Older("1.0", "1.05"));  // a zero value orders by value
  EXPECT_TRUE(Older("2", "2.0.1"));
  EXPECT_TRUE(Older("2", "2.0"));
  EXPECT_FALSE(Older("1.0.0", "1.0"));
  EXPECT_FALSE(Older("1.0", "1.0.0"));
  EXPECT_FALSE(Older("1.0 beta", "1.0"));
  EXPECT_FALSE(Older("", ""));
  EXPECT_TRUE(Older("", "0"));
}

}  // namespace
}  // namespace kv::inventory
