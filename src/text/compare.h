#pragma once
// Comparisons "without regard to case" on UTF-8 text, by simple per-code-point
// upper-case folding (what CompareStringOrdinal with ignore-case does).
#include <cstddef>
#include <string>
#include <string_view>

namespace kv::text {

// <0, 0 or >0 like strcmp, after folding both sides.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);
// Byte offset of the first case-insensitive occurrence, or npos.
std::size_t FindNoCase(std::string_view hay, std::string_view needle, std::size_t from = 0);

// A key that two strings share exactly when EqualsNoCase holds: upper-cased
// code points, undecodable bytes kept apart above the Unicode range. For
// sorted and hashed lookups of many strings.
std::u32string FoldCase(std::string_view s);

// Orders strings case-insensitively; for std::map and std::set.
struct LessNoCase {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return CompareNoCase(a, b) < 0;
  }
};

}  // namespace kv::text
