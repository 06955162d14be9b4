#include "catalogue/program_key.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "inventory/names.h"
#include "inventory/version.h"
#include "text/chars.h"
#include "text/compare.h"
#include "text/utf8.h"

namespace kv::server {
namespace {

using inventory::CleanMode;
using inventory::ProgramNameWords;
using inventory::ProgramVersion;
using text::EqualsNoCase;

std::string_view Trim(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool IsAnyOf(std::string_view word, std::initializer_list<std::string_view> list) {
  return std::any_of(list.begin(), list.end(),
                     [&](std::string_view w) { return EqualsNoCase(word, w); });
}

// The client takes these out only in brackets; bare, its filter turns "x64"
// into "x" and keeps "64-bit", so two builds of one program would differ.
bool IsArchitectureWord(std::string_view w) {
  return IsAnyOf(w, {"x86", "x64", "x86-64", "x86_64", "amd64", "arm64", "aarch64", "ia64",
                     "32-bit", "64-bit", "32bit", "64bit"});
}

bool IsAsciiLetters(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// "en-us", "de-DE": how Office and others end a display name ("... - en-us").
bool IsLanguageTag(std::string_view w) {
  return w.size() == 5 && w[2] == '-' && IsAsciiLetters(w.substr(0, 2)) &&
         IsAsciiLetters(w.substr(3));
}

// "7-x64" gives "7", so that "PowerShell 7-x64" meets "PowerShell 7".
void CutArchitectureSuffix(std::string& word) {
  const std::size_t dash = word.rfind('-');
  if (dash == std::string::npos || dash == 0) return;
  const std::string_view tail = std::string_view(word).substr(dash + 1);
  // "x86-64" and "64-bit" are architecture words whole, not a suffix.
  if (IsArchitectureWord(tail) && !IsArchitectureWord(word)) word.resize(dash);
}

// Drops the words the client keeps but that only tell builds apart. Runs on
// the raw words, before the client's filter changes them.
void DropBuildWords(inventory::WordList& words) {
  std::size_t n = words.size();
  if (n >= 3 && words[n - 2] == "-" && IsLanguageTag(words[n - 1])) n -= 2;
  inventory::WordList kept;
  kept.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    CutArchitectureSuffix(words[i]);
    if (i > 0 && IsArchitectureWord(words[i])) continue;
    // "64 bit" written apart.
    if (i > 0 && i + 1 < n && (words[i] == "32" || words[i] == "64") &&
        EqualsNoCase(words[i + 1], "bit")) {
      ++i;
      continue;
    }
    kept.push_back(std::move(words[i]));
  }
  words = std::move(kept);
}

// Simple upper-case folding, as EqualsNoCase compares, then lower case for
// readable keys. A malformed byte is kept as it is.
std::string FoldToKey(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t start = pos;
    const char32_t cp = text::DecodeNext(s, pos);
    if (cp == text::kReplacement && s.substr(start, pos - start) != "\xEF\xBF\xBD")
      out.append(s.substr(start, pos - start));
    else
      text::AppendUtf8(out, text::ToLower(text::ToUpper(cp)));
  }
  return out;
}

// The plain letters of a Latin-1 or Latin Extended-A letter ("é" gives "e",
// "ß" gives "ss"); "" when there is no such simple spelling.
std::string_view Transliterate(char32_t cp) {
  static constexpr std::array<std::string_view, 64> kLatin1 = {
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
      "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "ss",
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
      "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y"};
  // U+0100 to U+017F; "*" marks the two ligatures.
  static constexpr std::string_view kExtendedA =
      "aaaaaaccccccccdd"
      "ddeeeeeeeeeegggg"
      "gggghhhhiiiiiiii"
      "ii**jjkkklllllll"
      "lllnnnnnnnnnoooo"
      "oo**rrrrrrssssss"
      "ssttttttuuuuuuuu"
      "uuuuwwyyyzzzzzzs";
  if (cp >= 0xC0 && cp <= 0xFF) return kLatin1[cp - 0xC0];
  if (cp >= 0x100 && cp <= 0x17F) {
    const std::size_t i = cp - 0x100;
    if (kExtendedA[i] != '*') return kExtendedA.substr(i, 1);
    return (cp == 0x132 || cp == 0x133) ? "ij" : "oe";
  }
  if (cp == 0xB5 || cp == 0x3BC) return "u";  // micro sign and mu: "µTorrent"
  if (cp == 0xAA) return "a";
  if (cp == 0xBA) return "o";
  return {};
}

// Characters that vanish without splitting a word: "Baldur's", "Skype™".
bool IsSilent(char32_t cp) {
  return cp == '\'' || cp == 0x2019 || cp == 0x2122 || cp == 0xAE || cp == 0xA9;
}

void TrimTrailingDashes(std::string& s) {
  while (!s.empty() && s.back() == '-') s.pop_back();
}

}  // namespace

std::string MatchKey(std::string_view name) {
  const std::string_view trimmed = Trim(name);
  ProgramNameWords words(trimmed);
  DropBuildWords(words.words);
  words.Clean(CleanMode::kMatch);
  // A lone "-" between words is a separator, not part of the name.
  std::erase_if(words.words, [](const std::string& w) {
    return w.find_first_not_of('-') == std::string::npos;
  });
  if (words.words.empty()) return FoldToKey(trimmed);
  return FoldToKey(words.Join());
}

std::string PublisherKey(std::string_view publisher) {
  return FoldToKey(inventory::PublisherWords(Trim(publisher)).Key());
}

std::string ShortName(std::string_view name) {
  std::string out;
  bool dash = false;
  const auto append = [&](std::string_view letters) {
    if (dash && !out.empty()) out += '-';
    dash = false;
    out += letters;
  };
  for (std::size_t pos = 0; pos < name.size() && out.size() <= kMaxShortName;) {
    const char32_t cp = text::DecodeNext(name, pos);
    if (cp < 0x80 && text::IsAlnum(cp)) {
      append(std::string(1, static_cast<char>(text::ToLower(cp))));
    } else if (cp == '+') {
      dash = true;
      append("plus");
      dash = true;
    } else if (const std::string_view t = Transliterate(cp); !t.empty()) {
      append(t);
    } else if (!IsSilent(cp) && !(cp >= 0x80 && text::IsLetter(cp))) {
      // Letters with no plain spelling are dropped without splitting a word.
      dash = true;
    }
  }
  if (out.size() > kMaxShortName) out.resize(kMaxShortName);
  TrimTrailingDashes(out);
  return out.empty() ? "program" : out;
}

std::string ShortNameWithSuffix(std::string_view base, std::int64_t n) {
  std::string out(base.substr(0, std::min(base.size(), kMaxShortName)));
  if (n < 2) return out;
  const std::string suffix = "-" + std::to_string(n);
  if (out.size() + suffix.size() > kMaxShortName) {
    out.resize(kMaxShortName - suffix.size());
    TrimTrailingDashes(out);
  }
  if (out.empty()) out = "program";
  return out + suffix;
}

std::string_view IdentifyingName(const ReportedProgram& program) {
  const std::string_view display = Trim(program.display_name);
  return display.empty() ? std::string_view(program.name) : display;
}

std::string CatalogueKeyOf(const ReportedProgram& program) {
  return MatchKey(IdentifyingName(program)) + "|" + PublisherKey(program.publisher);
}

bool IsNewerVersion(std::string_view a, std::string_view b) {
  ProgramVersion va, vb;
  if (!inventory::ParseVersion(a, va)) return false;
  if (!inventory::ParseVersion(b, vb)) return true;
  return inventory::IsOlderVersion(vb, va);
}

std::string HighestVersion(const std::vector<std::string>& versions) {
  const std::string* best = nullptr;
  for (const std::string& v : versions) {
    if (best ? IsNewerVersion(v, *best) : IsNewerVersion(v, {})) best = &v;
  }
  return best ? *best : std::string();
}

}  // namespace kv::server
