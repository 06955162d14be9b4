#pragma once
// Program versions: an ordered list of numeric components plus the text that
// followed the numbers. Every version the client reads, compares or writes
// goes through these functions.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::inventory {

struct VersionComponent {
  std::int32_t value = 0;
  // "0" characters in front of the first non-zero digit; 0 when value is 0.
  // It makes 1.05 order below 1.5.
  std::int32_t zeros = 0;

  bool operator==(const VersionComponent&) const = default;
};

struct ProgramVersion {
  std::vector<VersionComponent> components;
  std::string suffix;  // e.g. " beta" of "1.0 beta", blanks in front included

  bool IsPresent() const { return !components.empty(); }
  void Clear() {
    components.clear();
    suffix.clear();
  }
  bool operator==(const ProgramVersion&) const = default;
};

// Parses `text` into `version` (cleared first). Digit runs too large for a
// component saturate at INT32_MAX. Returns whether a version is present.
bool ParseVersion(std::string_view text, ProgramVersion& version);

// "1.05 beta": components joined by ".", then the suffix unchanged.
std::string FormatVersion(const ProgramVersion& version);

// True when both have the same components (values and leading zeros, the
// same count); the suffix takes no part.
inline bool SameVersionNumbers(const ProgramVersion& a, const ProgramVersion& b) {
  return a.components == b.components;
}

// True when `a` orders strictly below `b`. Suffixes are not compared.
bool IsOlderVersion(const ProgramVersion& a, const ProgramVersion& b);

// One component from a run of ASCII digits (value saturates at INT32_MAX).
VersionComponent ComponentFromDigits(std::string_view digits);

}  // namespace kv::inventory
