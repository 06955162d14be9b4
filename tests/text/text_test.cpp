#include <gtest/gtest.h>

#include "text/chars.h"
#include "text/compare.h"
#include "text/format.h"
#include "text/utf8.h"

namespace kv::text {
namespace {

TEST(Utf8, DecodesAndReplacesMalformedBytesOneAtATime) {
  const std::string s = "a\xC3\xA9\xFF\xE2\x84\xA2\xE2\x84";  // a é <bad> ™ <truncated>
  std::size_t pos = 0;
  EXPECT_EQ(DecodeNext(s, pos), U'a');
  EXPECT_EQ(DecodeNext(s, pos), U'é');
  EXPECT_EQ(DecodeNext(s, pos), kReplacement);
  EXPECT_EQ(pos, 4u);
  EXPECT_EQ(DecodeNext(s, pos), U'™');
  EXPECT_EQ(DecodeNext(s, pos), kReplacement);
  EXPECT_EQ(DecodeNext(s, pos), kReplacement);
  EXPECT_EQ(pos, s.size());
}

TEST(Utf8, RejectsOverlongAndSurrogateForms) {
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));        // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));    // UTF-16 surrogate
  EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD ok"));  // a real U+FFFD
}

TEST(Utf8, RoundTripsThroughUtf16IncludingAstralPlanes) {
  const std::string s = "Zipper \xF0\x9F\x98\x80 \xD0\x9F\xD1\x80\xD0\xBE";
  const std::u16string w = ToUtf16(s);
  EXPECT_EQ(w.size(), 7u + 2u + 1u + 3u);
  EXPECT_EQ(FromUtf16(w), s);
  EXPECT_EQ(FromUtf16(u"\xD800x"), "\xEF\xBF\xBDx");  // unpaired surrogate
}

TEST(Chars, ClassesAreUnicodeAware) {
  EXPECT_TRUE(IsLetter(U'é'));
  EXPECT_TRUE(IsLetter(U'Ж'));
  EXPECT_TRUE(IsLetter(U'中'));
  EXPECT_FALSE(IsLetter(U'®'));
  EXPECT_FALSE(IsLetter(U'™'));
  EXPECT_FALSE(IsAlnum(U'-'));
  EXPECT_TRUE(IsAlnum(U'7'));
  EXPECT_FALSE(IsDigit(U'٣'));  // numbers are read as C reads them
  // Beyond the BMP one rule on every platform: ideographs yes, emoji no.
  EXPECT_TRUE(IsLetter(U'\U00020000'));
  EXPECT_FALSE(IsLetter(U'\U0001F600'));
  EXPECT_EQ(ToUpper(U'\U00010428'), U'\U00010428');
}

TEST(Compare, FoldsCaseBeyondAscii) {
  EXPECT_TRUE(EqualsNoCase("Zipper", "zIPPER"));
  EXPECT_TRUE(EqualsNoCase("\xC3\x89" "diteur", "\xC3\xA9" "DITEUR"));  // Éditeur
  EXPECT_TRUE(EqualsNoCase("\xD0\x9F\xD0\xA0\xD0\x9E", "\xD0\xBF\xD1\x80\xD0\xBE"));
  EXPECT_FALSE(EqualsNoCase("abc", "abcd"));
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("b", "A"), 0);
  EXPECT_TRUE(StartsWithNoCase("HTTPS://x", "http"));
  EXPECT_TRUE(EndsWithNoCase("Setup.EXE", ".exe"));
  EXPECT_FALSE(EndsWithNoCase("exe", ".exe"));
  EXPECT_EQ(FindNoCase("C:\\Prog\\FOO.EXE -x", ".exe"), 11u);
  EXPECT_EQ(FindNoCase("abc", "d"), std::string::npos);
}

TEST(Compare, UndecodableBytesCompareByValueAndNeverEqualText) {
  EXPECT_TRUE(EqualsNoCase("a\xFF", "A\xFF"));
  EXPECT_FALSE(EqualsNoCase("\xFF", "\xEF\xBF\xBD"));
  EXPECT_EQ(ToUpper("a\xFFz"), "A\xFFZ");
}

TEST(Format, FormatsLikePrintfAndGrowsPastTheSmallBuffer) {
  EXPECT_EQ(Format("User switched %s autorun.", "on"), "User switched on autorun.");
  EXPECT_EQ(Format("%02d.%02d.%04d", 1, 2, 2008), "01.02.2008");
  const std::string big(2000, 'x');
  EXPECT_EQ(Format("[%s]", big.c_str()).size(), 2002u);
  EXPECT_EQ(Format("%llu", 18446744073709551615ull), "18446744073709551615");
}

}  // namespace
}  // namespace kv::text
