#include <gtest/gtest.h>

#include "inventory/names.h"

namespace kv::inventory {
namespace {

using Words = std::vector<std::string>;

std::string Clean(std::string_view text, CleanMode mode = CleanMode::kName) {
  NameWords w = Tokenize(text);
  CleanWords(w, mode);
  return JoinWords(w.words);
}

ProgramVersion V(std::string_view text) {
  ProgramVersion v;
  ParseVersion(text, v);
  return v;
}

std::string Strip(std::string_view text, ProgramVersion& v) {
  return StripVersionFromName(Tokenize(text), v);
}

std::string Split(std::string_view text) {
  NameWords w = Tokenize(text);
  SplitCamelCase(w);
  return JoinWords(w.words);
}

TEST(Tokenize, KeepsBracketGroupsWhole) {
  EXPECT_EQ(Tokenize("Zipper 11.1 (remove only)").words, (Words{"Zipper", "11.1", "(remove only)"}));
  EXPECT_EQ(Tokenize("Foo(x86)").words, (Words{"Foo", "(x86)"}));
  EXPECT_EQ(Tokenize("Foo [a b]c  d ").words, (Words{"Foo", "[a b]", "c", "d"}));
  EXPECT_EQ(Tokenize("Foo (x86 [beta]) 2").words, (Words{"Foo", "(x86 [beta])", "2"}));
  EXPECT_EQ(Tokenize("Foo (unclosed").words, (Words{"Foo", "(unclosed"}));
  EXPECT_EQ(Tokenize(" Foo").words, (Words{"", "Foo"}));
  EXPECT_TRUE(Tokenize("").words.empty());
  EXPECT_EQ(Tokenize("a b").original, "a b");
}

TEST(CleanWords, NameModeExamples) {
  EXPECT_EQ(Clean("Foo Browser (2.0.0.11)"), "Foo Browser");
  EXPECT_EQ(Clean("Foo archiver"), "Foo archiver");
  EXPECT_EQ(Clean("Foo Bar - Trial Version 3"), "Foo Bar");
  EXPECT_EQ(Clean("Foo Demo Version"), "Foo");
  EXPECT_EQ(Clean("Acme Reader 8.1.2"), "Acme Reader");
  EXPECT_EQ(Clean("Foo+Plus"), "Foo+Plus");
  EXPECT_EQ(Clean("Foo V2.0 1.5a V2 3D XP"), "Foo V2 3D XP");
  EXPECT_EQ(Clean("The Foo and the Bar for Version beta ALPHA"), "The Foo Bar");
  EXPECT_EQ(Clean("Foo build"), "Foo build");
  EXPECT_EQ(Clean("Foo build 12b"), "Foo build 12b");
  EXPECT_EQ(Clean("Foo Build 345 Tool"), "Foo Tool");
  EXPECT_EQ(Clean(""), "");
}

TEST(CleanWords, FirstWordIsOnlyFiltered) {
  EXPECT_EQ(Clean("2007"), "2007");
  EXPECT_EQ(Clean("(Foo) Bar"), "Foo Bar");
  EXPECT_EQ(Clean("Beta Foo"), "Beta Foo");
  // A first word that filters away hands first place to the next one.
  EXPECT_EQ(Clean("\xC2\xAE 2.0 Foo"), "20 Foo");
  EXPECT_EQ(Clean(" Foo 2.0"), "Foo");
}

TEST(CleanWords, MatchModeDropsEditionsAndTrailingDigits) {
  EXPECT_EQ(Clean("Suite2007 MP3 Pro Trial Enterprise Edition", CleanMode::kMatch), "Suite MP");
  EXPECT_EQ(Clean("Suite2007 MP3 Pro", CleanMode::kName), "Suite2007 MP3 Pro");
  EXPECT_EQ(Clean("Foo 3D-2 x64", CleanMode::kMatch), "Foo 3D-2 x");
  EXPECT_EQ(Clean("Foo RC2", CleanMode::kMatch), "Foo RC");
}

TEST(CleanWords, RecordsRemovedWordsInOrder) {
  NameWords w = Tokenize("Foo (x86) - Trial Version build 12 2.0 \xE2\x84\xA2");
  CleanWords(w, CleanMode::kName);
  EXPECT_EQ(w.words, (Words{"Foo"}));
  // The symbol only filters away; it is not a removed word.
  EXPECT_EQ(w.removed, (Words{"(x86)", "-", "Trial", "Version", "build", "12", "2.0"}));
}

TEST(CleanWords, LettersAreUnicodeAware) {
  EXPECT_EQ(Clean("Acme\xC2\xAE Office\xE2\x84\xA2 2010"), "Acme Office");
  EXPECT_EQ(Clean("\xC3\x89" "diteur \xD0\x9F\xD1\x80\xD0\xBE 2.0"),
            "\xC3\x89" "diteur \xD0\x9F\xD1\x80\xD0\xBE");
  EXPECT_EQ(Clean("Caf\xC3\xA9" "2 Tool", CleanMode::kMatch), "Caf\xC3\xA9 Tool");
  EXPECT_EQ(Clean("Foo\xFF\xFE Bar\xC3"), "Foo Bar");
  EXPECT_EQ(Clean("\xFF \xFE"), "");
}

TEST(FindVersionInName, PicksLongestVersionAndAddsBuild) {
  ProgramVersion v;
  EXPECT_TRUE(FindVersionInName(Tokenize("Foo 2.1 build 345"), v));
  EXPECT_EQ(FormatVersion(v), "2.1.345");

  v = V("3.0");
  EXPECT_FALSE(FindVersionInName(Tokenize("Foo build 345"), v));
  EXPECT_EQ(FormatVersion(v), "3.0.345");
  EXPECT_FALSE(FindVersionInName(Tokenize("Foo build 345"), v));
  EXPECT_EQ(FormatVersion(v), "3.0.345");  // already ends in the build
  v = V("1.2.3.4");
  FindVersionInName(Tokenize("Foo build 9"), v);
  EXPECT_EQ(FormatVersion(v), "1.2.3.4");

  v = {};
  EXPECT_TRUE(FindVersionInName(Tokenize("Foo 1.2 (v2.0.1) [3.4] 5.6.7"), v));
  EXPECT_EQ(FormatVersion(v), "2.0.1");
  v = {};
  EXPECT_FALSE(FindVersionInName(Tokenize("2.0 Foo 7 (7)"), v));  // first word not searched
  EXPECT_FALSE(v.IsPresent());
}

TEST(StripVersionFromName, RemovesVersionWordsMatchingTheVersion) {
  ProgramVersion v = V("11.1");
  EXPECT_EQ(Strip("Zipper 11.1 (remove only)", v), "Zipper");
  v = V("7.10.1");
  EXPECT_EQ(Strip("Burner 7", v), "Burner");
  v = V("7.10");
  EXPECT_EQ(Strip("Burner 8", v), "Burner 8");
  v = {};
  EXPECT_EQ(Strip("Zipper (Remove ONLY)", v), "Zipper");
  EXPECT_EQ(Strip("", v), "");
  EXPECT_EQ(Strip("Foo build 12 build 13", v), "Foo build 13");
}

TEST(StripVersionFromName, VersionPairFillsAnEmptyVersion) {
  ProgramVersion v;
  EXPECT_EQ(Strip("Foo Version 2.5 Tool", v), "Foo Tool");
  EXPECT_EQ(FormatVersion(v), "2.5");
  v = V("2.0");
  EXPECT_EQ(Strip("Foo ver 3.1", v), "Foo ver");  // the pair stays, the number goes
  EXPECT_EQ(FormatVersion(v), "2.0");
  v = V("3");
  EXPECT_EQ(Strip("Foo v 3 v", v), "Foo v");
}

TEST(NameSimilarity, Examples) {
  EXPECT_EQ(NameSimilarity({"Acme", "Reader"}, {"Acme", "Reader", "8"}), 99);
  EXPECT_EQ(NameSimilarity({"Acme", "Reader"}, {"Acme", "Writer"}), 13);
  EXPECT_EQ(NameSimilarity({"acme", "READER"}, {"Acme", "Reader"}), 100);
  EXPECT_EQ(NameSimilarity({}, {"Acme"}), 0);
  EXPECT_EQ(NameSimilarity({"A", "B", "C"}, {"A", "X", "Y"}), 4);  // 100/27
  // Each word of the shorter list is looked up; the longer one is not consumed.
  EXPECT_EQ(NameSimilarity({"Foo", "Foo"}, {"Foo", "Bar", "Baz"}), 99);
  // With equal sizes the first list is the longer one.
  EXPECT_EQ(NameSimilarity({"Foo", "Bar"}, {"Foo", "Foo"}), 100);
  EXPECT_EQ(NameSimilarity({"Foo", "Foo"}, {"Foo", "Bar"}), 13);
}

TEST(NameSimilarity, LongListsAgreeWithShortOnes) {
  Words longer(300, "x");
  longer[150] = "\xC3\x89T\xC3\x89";  // ÉTÉ
  EXPECT_EQ(NameSimilarity({"\xC3\xA9t\xC3\xA9"}, longer), 0);  // 299 extra words
  Words same = longer;
  same[7] = "X";
  EXPECT_EQ(NameSimilarity(same, longer), 100);
}

TEST(SplitCamelCase, CutsAtInnerCapitals) {
  EXPECT_EQ(Split("FooRAR"), "Foo RAR");
  EXPECT_EQ(Split("FooX6"), "FooX6");
  EXPECT_EQ(Split("ABCMessenger"), "ABC Messenger");
  EXPECT_EQ(Split("ABCDe"), "ABCDe");  // the tail would be two characters
  EXPECT_EQ(Split("xTunes"), "xTunes");
  EXPECT_EQ(Split("Foo-Bar"), "Foo-Bar");
  EXPECT_EQ(Split("LIMEWIRE LimeWire Lovefilm PowerDVD"), "LIMEWIRE LimeWire Lovefilm Power DVD");
  EXPECT_EQ(Split("3DMark"), "3D Mark");
  EXPECT_EQ(Split("Caf\xC3\xA9" "Bar \xC3\x89" "Tool"), "Caf\xC3\xA9 Bar \xC3\x89" "Tool");
}

TEST(PublisherKey, KeepsTheFirstLettersWord) {
  EXPECT_EQ(PublisherWords("Acme Systems Incorporated").Key(), "Acme");
  EXPECT_EQ(PublisherWords("3Net Corp.").Key(), "Net");
  EXPECT_EQ(PublisherWords("\xC2\xAE 2000 (x) S\xC3\xB8" "ft").Key(), "S\xC3\xB8" "ft");
  EXPECT_EQ(PublisherWords("").Key(), "");
  EXPECT_TRUE(PublisherWords("123 456").words.empty());
}

TEST(MatchNameWords, DropsUninstallAfterCleaning) {
  MatchNameWords w("Uninstall Foo Pro 2.0 uninstall", CleanMode::kMatch);
  EXPECT_EQ(w.Join(), "Foo");
  ProgramNameWords p("Uninstall Foo Pro 2.0", CleanMode::kMatch);
  EXPECT_EQ(p.Join(), "Uninstall Foo");
}

}  // namespace
}  // namespace kv::inventory
