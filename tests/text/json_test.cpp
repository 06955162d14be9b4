#include "text/json.h"

#include <gtest/gtest.h>

namespace kv::text {
namespace {

JsonValue Parsed(std::string_view text) {
  JsonValue v;
  std::string error;
  EXPECT_TRUE(ParseJson(text, v, error)) << text << ": " << error;
  return v;
}

std::string Rejected(std::string_view text) {
  JsonValue v;
  std::string error;
  EXPECT_FALSE(ParseJson(text, v, error)) << text;
  return error;
}

TEST(JsonReader, ReadsNestedValuesInFileOrder) {
  const JsonValue v = Parsed(R"( {"b": [1, true, null, "x"], "a": {"n": -42}} )");
  ASSERT_EQ(v.kind, JsonValue::Kind::Object);
  ASSERT_EQ(v.members.size(), 2u);
  EXPECT_EQ(v.members[0].first, "b");  // not sorted
  const JsonValue* b = v.Find("b");
  ASSERT_TRUE(b);
  ASSERT_EQ(b->items.size(), 4u);
  EXPECT_EQ(b->items[0].number, 1u);
  EXPECT_TRUE(b->items[1].boolean);
  EXPECT_EQ(b->items[2].kind, JsonValue::Kind::Null);
  EXPECT_EQ(b->items[3].text, "x");
  const JsonValue* n = v.Find("a")->Find("n");
  EXPECT_TRUE(n->negative);
  EXPECT_EQ(n->number, 42u);
  EXPECT_EQ(v.Find("c"), nullptr);
}

TEST(JsonReader, IntegersAreExactTo64BitsAndStringsDecodeToUtf8) {
  // A FILETIME does not survive a trip through a double.
  EXPECT_EQ(Parsed("133853976000000001").number, 133853976000000001u);
  EXPECT_EQ(Parsed("18446744073709551615").number, UINT64_MAX);
  EXPECT_EQ(Parsed(R"("C:\\a\"b\/\t\u00e9\ud83d\ude00")").text,
            "C:\\a\"b/\t\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(Parsed("\xEF\xBB\xBF[]").kind, JsonValue::Kind::Array);  // a BOM is fine
}

TEST(JsonReader, RejectsWhatIsNotStrictJson) {
  for (const char* bad : {"", "{", "[1,]", "{\"a\":1,}", "{\"a\" 1}", "{a:1}", "[1] x", "01",
                          "1.5", "1e3", "-", "tru", "\"open", "\"tab\there\"", "\"\\x\"",
                          "\"\\u12\"", "\"\\ud800\"", "\"\\udc00\"", "\"\\ud800\\u0041\"",
                          "\"\xC3\"", "18446744073709551616", "{\"a\":1,\"a\":2}", "'x'"})
    Rejected(bad);
  EXPECT_NE(Rejected("[1, 2] 3").find("offset 7"), std::string::npos);
}

TEST(JsonReader, NestingIsBounded) {
  Parsed(std::string(32, '[') + std::string(32, ']'));
  EXPECT_NE(Rejected(std::string(100000, '[')).find("deeply"), std::string::npos);
}

TEST(JsonQuote, EscapesWhatJsonRequiresAndRepairsBadBytes) {
  EXPECT_EQ(JsonQuote("a\"b\\c\n\r\t"), R"("a\"b\\c\n\r\t")");
  EXPECT_EQ(JsonQuote(std::string("\x01", 1)), R"("\u0001")");
  EXPECT_EQ(JsonQuote("\xE2\x80\xA8"), R"("\u2028")");  // breaks JavaScript string literals
  EXPECT_EQ(JsonQuote("\xC3"), "\"\xEF\xBF\xBD\"");
  // What it writes reads back as the same text.
  JsonValue v;
  std::string error;
  const std::string text = "C:\\Program Files\\\xC3\xA9\x7F \"x\"";
  ASSERT_TRUE(ParseJson(JsonQuote(text), v, error)) << error;
  EXPECT_EQ(v.text, text);
}

}  // namespace
}  // namespace kv::text
