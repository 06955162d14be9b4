#include "store/xml_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "store/xml_store.h"

namespace kv::store {
namespace {

// A sub-document written by a routine of its own, as the stores do.
void WriteProgram(XmlWriter& w, const std::string& indent) {
  w.Open(indent, "SoftwareInfo");
  const std::string in = XmlWriter::ChildIndent(indent);
  w.Text(in, "Name", "A<B & \"C\" > D");
  w.Text(in, "Publisher", "");
  w.UInt32(in, "Flags", 0xFFFFFFFFu);
  w.Close(indent, "SoftwareInfo");
}

TEST(XmlWriterTest, WritesTheLayoutExactly) {
  XmlWriter w;
  EXPECT_GE(w.str().capacity(), 1048576u);
  w.Open("", "KV");
  w.Int32(" ", "Count", INT32_MIN);
  w.UInt64(" ", "Time", UINT64_MAX);
  w.Bool(" ", "Hidden", true);
  w.Open(" ", "SoftwareList");
  WriteProgram(w, "  ");
  w.Close(" ", "SoftwareList");
  const std::vector<XmlAttribute> attributes = {{"Id", "7"}, {"Name", "x\"&<'>"}};
  w.Text(" ", "Program", "", attributes);
  w.Close("", "KV");
  EXPECT_EQ(w.Take(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<KV>\r\n"
            " <Count>-2147483648</Count>\r\n"
            " <Time>18446744073709551615</Time>\r\n"
            " <Hidden>true</Hidden>\r\n"
            " <SoftwareList>\r\n"
            "  <SoftwareInfo>\r\n"
            "   <Name>A&lt;B &amp; &quot;C&quot; > D</Name>\r\n"
            "   <Publisher></Publisher>\r\n"
            "   <Flags>4294967295</Flags>\r\n"
            "  </SoftwareInfo>\r\n"
            " </SoftwareList>\r\n"
            " <Program Id=\"7\" Name=\"x&quot;&amp;&lt;'>\"></Program>\r\n"
            "</KV>\r\n");
}

// What a store holds in memory must come back from its file unchanged, as
// element text and as attribute value; bytes that are not UTF-8 come back
// as U+FFFD instead of making the file unreadable.
TEST(XmlWriterTest, WrittenValuesReadBackUnchanged) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"<&\">", ""}, {"&lt;", ""}, {"&#65;", ""}, {"caf\xC3\xA9 \xF0\x9F\x98\x80", ""},
      {" ", ""}, {" two ", ""}, {"\r\n", ""}, {"a\r\nb\nc\rd\te", ""}, {"\x01\x7F", ""},
      {"]]><![CDATA[x]]><!-- -->", ""}, {"", ""},
      {std::string("caf\xE9\0\xC3", 6), "caf\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}};
  XmlWriter w;
  w.Open("", "KV");
  for (const auto& [v, _] : values) w.Text(" ", "Value", v, {{"Copy", v}});
  w.Close("", "KV");

  const auto doc = XmlDocument::Parse(w.str());
  ASSERT_TRUE(doc);
  std::size_t i = 0;
  for (XmlElement e : doc->Root().Children()) {
    ASSERT_LT(i, values.size());
    const std::string& expected = values[i].second.empty() ? values[i].first : values[i].second;
    EXPECT_EQ(e.Text(), expected) << i;
    EXPECT_EQ(e.Attribute("Copy"), expected) << i;
    ++i;
  }
  EXPECT_EQ(i, values.size());
}

}  // namespace
}  // namespace kv::store
