#include "inventory/release_status.h"

#include <string_view>

#include "inventory/names.h"
#include "text/compare.h"

namespace kv::inventory {
namespace {

using text::EqualsNoCase;

bool HasWord(const WordList& words, std::string_view w) {
  for (const std::string& word : words)
    if (EqualsNoCase(word, w)) return true;
  return false;
}

// A word bare or in parentheses: "beta" or "(beta)".
bool HasMarker(const WordList& words, std::string_view w) {
  for (const std::string& word : words) {
    std::string_view inner = word;
    if (inner.size() >= 2 && inner.front() == '(' && inner.back() == ')')
      inner = inner.substr(1, inner.size() - 2);
    if (EqualsNoCase(inner, w)) return true;
  }
  return false;
}

std::string StatusFromWords(const WordList& words) {
  if (HasMarker(words, "PreRelease")) return "PreRelease";
  if (HasMarker(words, "alpha")) return "Alpha";
  if (HasMarker(words, "beta")) return "Beta";
  if (HasMarker(words, "RC")) return "RC";
  for (char n = '1'; n <= '6'; ++n) {
    const std::string rc = std::string("RC") + n;
    if (HasMarker(words, rc)) return rc;
  }
  return {};
}

// "a", " a", "a3" and " a3" (any case) give "Alpha" or "Alpha 3"; `letter`
// is 'a' or 'b'.
std::string StatusFromShortSuffix(std::string_view suffix, char letter, const char* word) {
  if (!suffix.empty() && suffix[0] == ' ') suffix.remove_prefix(1);
  if (suffix.empty() || (suffix[0] | 0x20) != letter) return {};
  if (suffix.size() == 1) return word;
  if (suffix.size() == 2 && suffix[1] >= '1' && suffix[1] <= '9')
    return std::string(word) + ' ' + suffix[1];
  return {};
}

std::string Suffix(std::string_view text) {
  ProgramVersion v;
  ParseVersion(text, v);
  return v.suffix;
}

}  // namespace

std::string DetermineReleaseStatus(const ReleaseStatusInput& in) {
  const std::string product_suffix = Suffix(in.product_version);
  const std::string file_suffix = Suffix(in.file_version);

  const std::string* texts[] = {&in.display_version, &in.file_description, &product_suffix,
                                &in.internal_name,   &in.product_name,     &in.version.suffix,
                                &file_suffix,        &in.special_build};
  for (const std::string* t : texts) {
    if (t->empty()) continue;
    std::string status = StatusFromWords(Tokenize(*t).words);
    if (!status.empty()) return status;
  }

  for (const std::string* suffix : {&product_suffix, &file_suffix}) {
    for (const auto& [letter, word] : {std::pair{'a', "Alpha"}, std::pair{'b', "Beta"}}) {
      std::string status = StatusFromShortSuffix(*suffix, letter, word);
      if (!status.empty()) return status;
    }
  }

  // The display name is searched before cleaning, where a trailing "Beta"
  // is still there, and after cleaning for matching, which turns "RC2" into
  // "RC".
  if (!in.display_name.empty()) {
    const NameWords raw = Tokenize(in.display_name);
    NameWords cleaned = raw;
    CleanWords(cleaned, CleanMode::kMatch);
    for (const auto& [marker, status] :
         {std::pair{"alpha", "Alpha"}, std::pair{"beta", "Beta"}, std::pair{"RC", "RC"}}) {
      if (HasWord(raw.words, marker) || HasWord(cleaned.words, marker)) return status;
    }
  }
  return "Release";
}

}  // namespace kv::inventory
