#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/program_key.h"

namespace kv::server {
namespace {

// What an uninstall entry may call one program, on different machines and
// at different versions.
TEST(MatchKey, OneProgramUnderItsManyUninstallNames) {
  const std::vector<std::vector<std::string>> groups = {
      {"Mozilla Firefox", "Mozilla Firefox 121.0 (x64 en-US)", "mozilla firefox 115.0.2 (x86 de)"},
      {"7-Zip", "7-Zip 23.01 (x64)", "7-Zip 9.20"},
      {"Microsoft Office Professional Plus", "Microsoft Office Professional Plus 2019 - en-us",
       "Microsoft Office Professional Plus - 16.0 (x64)",
       "Microsoft Office Professional Plus 2021 - de-de"},
      {"WinMerge", "WinMerge 2.16.36.0 x64"},
      {"Wireshark", "Wireshark 4.2.0 64-bit", "Wireshark 4.0.1 (64 bit)", "Wireshark 3.6 64 bit"},
      {"Far Manager", "Far Manager 3 x64", "Far Manager 3 x86", "Far Manager 3 x86_64"},
      {"PowerShell 7", "PowerShell 7-x64", "PowerShell 7-x86"},
      {"Intel Graphics Driver", "Intel(R) Graphics Driver", "Intel\xC2\xAE Graphics Driver"},
      {"Skype", "Skype\xE2\x84\xA2 8.110", "Skype version 8.110"},
      {"IntelliJ IDEA Community Edition", "IntelliJ IDEA Community Edition 2023.3.2"},
      {"\xC3\x89" "diteur \xC3\x9C", "\xC3\xA9" "diteur \xC3\xBC 2.1"},
  };
  for (const auto& group : groups) {
    const std::string key = MatchKey(group.front());
    for (const std::string& name : group) EXPECT_EQ(MatchKey(name), key) << name;
  }
  EXPECT_EQ(MatchKey("  Mozilla Firefox 121.0 (x64 en-US) "), "mozilla firefox");
  EXPECT_EQ(MatchKey("Notepad++ (64-bit x64)"), "notepad++");
}

TEST(MatchKey, DifferentProgramsStayApart) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"Notepad++", "Notepad"},
      {"Visual Studio Community 2022", "Visual Studio Build Tools 2022"},
      {"Realtek Audio Driver", "Realtek High Definition Audio Driver"},
      {"Microsoft Visual C++ 2015-2022 Redistributable (x64) - 14.38.33135",
       "Microsoft Visual C++ 2013 Redistributable (x64) - 12.0.40664"},
      {"Microsoft Office Home and Student 2019 - en-us",
       "Microsoft Office Home and Business 2019 - en-us"},
  };
  for (const auto& [a, b] : pairs) EXPECT_NE(MatchKey(a), MatchKey(b)) << a << " / " << b;
  // A language-like word is a language only after a separator at the end.
  EXPECT_EQ(MatchKey("Acme Hi-Fi Mixer"), "acme hi-fi mixer");
}

TEST(MatchKey, NothingLeftFallsBackToTheFoldedName) {
  EXPECT_EQ(MatchKey(" \xE2\x84\xA2 "), "\xE2\x84\xA2");
  EXPECT_EQ(MatchKey("..."), "...");
  EXPECT_EQ(MatchKey(""), "");
}

TEST(PublisherKey, CompanyFormsAgree) {
  EXPECT_EQ(PublisherKey("Mozilla Corporation"), "mozilla");
  EXPECT_EQ(PublisherKey("Microsoft Corporation"), PublisherKey("MICROSOFT"));
  EXPECT_EQ(PublisherKey("Epic Games, Inc."), "epic");
  EXPECT_EQ(PublisherKey("  "), "");
}

TEST(CatalogueKeyOf, DisplayNameFirstThenName) {
  ReportedProgram p{"Firefox", "Mozilla Firefox 121.0 (x64 en-US)", "Mozilla Corporation", "121.0",
                    false};
  EXPECT_EQ(CatalogueKeyOf(p), "mozilla firefox|mozilla");
  p.display_name = "  ";
  EXPECT_EQ(CatalogueKeyOf(p), "firefox|mozilla");
  p.publisher.clear();
  EXPECT_EQ(CatalogueKeyOf(p), "firefox|");
}

bool IsHostLabel(const std::string& s) {
  if (s.empty() || s.size() > kMaxShortName || s.front() == '-' || s.back() == '-') return false;
  if (s.find("--") != std::string::npos) return false;
  for (const char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

TEST(ShortName, HostLabels) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Mozilla Firefox", "mozilla-firefox"},
      {"Notepad++", "notepad-plus-plus"},
      {"7-Zip", "7-zip"},
      {"\xC2\xB5Torrent", "utorrent"},
      {"Cr\xC3\xA8me Stra\xC3\x9F" "e \xC5\x92uvre \xC5\x81\xC3\xB3" "d\xC5\xBA",
       "creme-strasse-oeuvre-lodz"},
      {"Baldur's Gate", "baldurs-gate"},
      {"Skype\xE2\x84\xA2 for Windows", "skype-for-windows"},
      {" --Foo__  Bar-- ", "foo-bar"},
      {"\xE6\x97\xA5\xE6\x9C\xAC Editor", "editor"},
      {"A\xFF" "B", "a-b"},
      {"", "program"},
      {std::string(62, 'a') + " bcd", std::string(62, 'a')},
      {std::string(100, 'z'), std::string(63, 'z')},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(ShortName(name), expected) << name;
    EXPECT_TRUE(IsHostLabel(ShortName(name))) << name;
  }
}

TEST(ShortName, SuffixKeepsOneLabel) {
  EXPECT_EQ(ShortNameWithSuffix("mozilla-firefox", 2), "mozilla-firefox-2");
  EXPECT_EQ(ShortNameWithSuffix("mozilla-firefox", 1), "mozilla-firefox");
  EXPECT_EQ(ShortNameWithSuffix("", 3), "program-3");
  // Database ids, beyond what an int holds.
  EXPECT_EQ(ShortNameWithSuffix("foo", 5000000000), "foo-5000000000");
  const std::string long_name = std::string(61, 'a') + "-b";
  EXPECT_EQ(ShortNameWithSuffix(long_name, 10), std::string(60, 'a') + "-10");
  // The cut lands just after a dash, which must not double.
  EXPECT_EQ(ShortNameWithSuffix(long_name, 2), std::string(61, 'a') + "-2");
  for (int n : {2, 99, 100000}) EXPECT_TRUE(IsHostLabel(ShortNameWithSuffix(long_name, n)));
}

TEST(Versions, NewerAndHighest) {
  EXPECT_TRUE(IsNewerVersion("1.10", "1.9"));
  EXPECT_FALSE(IsNewerVersion("1.9", "1.10"));
  EXPECT_FALSE(IsNewerVersion("1.05", "1.5"));
  EXPECT_FALSE(IsNewerVersion("2.0", "2.0"));
  EXPECT_FALSE(IsNewerVersion("2.0 beta 1", "2.0"));
  EXPECT_TRUE(IsNewerVersion("1.0", "unknown"));
  EXPECT_FALSE(IsNewerVersion("unknown", "1.0"));

  EXPECT_EQ(HighestVersion({"1.2", "1.10", "1.9"}), "1.10");
  EXPECT_EQ(HighestVersion({"2.0", "2.0.0", "2.0 rc"}), "2.0");
  EXPECT_EQ(HighestVersion({"", "unknown", "3.1"}), "3.1");
  EXPECT_EQ(HighestVersion({"", "unknown"}), "");
}

}  // namespace
}  // namespace kv::server
