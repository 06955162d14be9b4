#include "store/xml_text.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kv::store {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(EncodeXmlTextTest, EscapesAmpersandFirstAndNothingButLessThanAndQuote) {
  EXPECT_EQ(EncodeXmlText("<&\">"), "&lt;&amp;&quot;>");
  EXPECT_EQ(EncodeXmlText("&lt;"), "&amp;lt;");
  EXPECT_EQ(EncodeXmlText("it's\t\r\n\x01"), "it's\t\r\n\x01");
  const std::string utf8 = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" + kFffd;
  EXPECT_EQ(EncodeXmlText(utf8), utf8);
}

TEST(EncodeXmlTextTest, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  EXPECT_EQ(EncodeXmlText("caf\xE9"), "caf" + kFffd);        // a Latin-1 byte
  EXPECT_EQ(EncodeXmlText("\xC3<"), kFffd + "&lt;");          // cut-off sequence
  EXPECT_EQ(EncodeXmlText("\xED\xA0\x80"), kFffd + kFffd + kFffd);  // surrogate
  EXPECT_EQ(EncodeXmlText(std::string("a\0b", 3)), "a" + kFffd + "b");  // NUL ends a parse
  EXPECT_EQ(ToValidUtf8("x\xFF"), "x" + kFffd);
}

TEST(XmlTextNumberTest, ReadsLikeCAndSaturates) {
  EXPECT_EQ(XmlTextToInt32(" \t\r\n\v\f-17 apples"), -17);
  EXPECT_EQ(XmlTextToInt32("+007.9"), 7);
  for (const char* zero : {"", "abc", "- 5", "+-5", "0x1F", "\xC2\xA0" "5", "\xEF\xBC\x95"})
    EXPECT_EQ(XmlTextToInt32(zero), 0) << zero;
  EXPECT_EQ(XmlTextToInt32("2147483648"), INT32_MAX);
  EXPECT_EQ(XmlTextToInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(XmlTextToInt32("-99999999999999999999999"), INT32_MIN);
  // Flag words use all 32 bits; a negative never wraps round to all bits set.
  EXPECT_EQ(XmlTextToUInt32("4294967295"), UINT32_MAX);
  EXPECT_EQ(XmlTextToUInt32("4294967296"), UINT32_MAX);
  EXPECT_EQ(XmlTextToUInt32("-1"), 0u);
  EXPECT_EQ(XmlTextToInt64("-9223372036854775809"), INT64_MIN);
  EXPECT_EQ(XmlTextToUInt64("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(XmlTextToUInt64("18446744073709551616"), UINT64_MAX);
}

TEST(XmlTextBoolTest, OnlyTrueInAnyCaseIsTrue) {
  for (const char* yes : {"true", "TRUE", "tRuE"}) EXPECT_TRUE(XmlTextToBool(yes)) << yes;
  for (const char* no : {"1", "yes", "", " true", "truex"}) EXPECT_FALSE(XmlTextToBool(no)) << no;
}

}  // namespace
}  // namespace kv::store
