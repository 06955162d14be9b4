#include "text/compare.h"

#include "text/chars.h"
#include "text/utf8.h"

namespace kv::text {

std::string ToUpper(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t start = pos;
    const char32_t cp = DecodeNext(s, pos);
    if (cp == kReplacement && pos - start == 1)
      out += s[start];  // keep undecodable bytes as they were
    else
      AppendUtf8(out, ToUpper(cp));
  }
  return out;
}

std::string ToLower(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t start = pos;
    const char32_t cp = DecodeNext(s, pos);
    if (cp == kReplacement && pos - start == 1)
      out += s[start];
    else
      AppendUtf8(out, ToLower(cp));
  }
  return out;
}

namespace {

// Folded code point at `pos`; undecodable bytes fold to themselves, offset
// above the Unicode range so they never equal a real character.
char32_t NextFolded(std::string_view s, std::size_t& pos) {
  const std::size_t start = pos;
  const unsigned char b = static_cast<unsigned char>(s[pos]);
  if (b < 0x80) {
    ++pos;
    return (b >= 'a' && b <= 'z') ? b - 0x20 : b;
  }
  const char32_t cp = DecodeNext(s, pos);
  if (cp == kReplacement && pos - start == 1) return 0x110000 + b;
  return ToUpper(cp);
}

}  // namespace

std::u32string FoldCase(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) out += NextFolded(s, pos);
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const char32_t x = NextFolded(a, i);
    const char32_t y = NextFolded(b, j);
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return CompareNoCase(a, b) == 0; }

namespace {

// Length in bytes of the prefix of `s` that folds equal to `prefix`, or npos.
std::size_t MatchPrefix(std::string_view s, std::string_view prefix) {
  std::size_t i = 0, j = 0;
  while (j < prefix.size()) {
    if (i >= s.size()) return std::string_view::npos;
    if (NextFolded(s, i) != NextFolded(prefix, j)) return std::string_view::npos;
  }
  return i;
}

}  // namespace

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return MatchPrefix(s, prefix) != std::string_view::npos;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  // Walk start offsets on character boundaries; the match must end at s.end().
  for (std::size_t start = 0; start <= s.size();) {
    const std::size_t n = MatchPrefix(s.substr(start), suffix);
    if (n != std::string_view::npos && start + n == s.size()) return true;
    if (start == s.size()) break;
    DecodeNext(s, start);
  }
  return false;
}

std::size_t FindNoCase(std::string_view hay, std::string_view needle, std::size_t from) {
  if (from > hay.size()) return std::string_view::npos;
  for (std::size_t start = from; start <= hay.size();) {
    if (MatchPrefix(hay.substr(start), needle) != std::string_view::npos) return start;
    if (start == hay.size()) break;
    DecodeNext(hay, start);
  }
  return std::string_view::npos;
}

}  // namespace kv::text
