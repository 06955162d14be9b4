#include "inventory/version.h"

#include <algorithm>
#include <limits>

namespace kv::inventory {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t SkipBlanks(std::string_view s, std::size_t pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
  return pos;
}

std::size_t SkipDigits(std::string_view s, std::size_t pos) {
  while (pos < s.size() && IsAsciiDigit(s[pos])) ++pos;
  return pos;
}

// A leading date "digits/digits/digits" (installers put the release date in
// front of the version); returns the position after it, or `pos` when absent.
std::size_t SkipDate(std::string_view s, std::size_t pos) {
  std::size_t p = pos;
  for (int part = 0; part < 3; ++part) {
    const std::size_t end = SkipDigits(s, p);
    if (end == p) return pos;
    p = end;
    if (part < 2) {
      if (p >= s.size() || s[p] != '/') return pos;
      ++p;
    }
  }
  return p;
}

bool ComponentLess(const VersionComponent& x, const VersionComponent& y) {
  if (x.zeros != y.zeros && x.value != 0 && y.value != 0) return x.zeros > y.zeros;
  return x.value < y.value;
}

}  // namespace

VersionComponent ComponentFromDigits(std::string_view digits) {
  VersionComponent c;
  std::int32_t zeros = 0;
  bool seen_nonzero = false;
  for (const char ch : digits) {
    const int d = ch - '0';
    if (!seen_nonzero) {
      if (d == 0) {
        if (zeros < kMax) ++zeros;
        continue;
      }
      seen_nonzero = true;
    }
    // Saturate instead of wrapping: a date-like build number such as
    // 20231015123045 must still order above every ordinary component.
    c.value = c.value > (kMax - d) / 10 ? kMax : c.value * 10 + d;
  }
  c.zeros = seen_nonzero ? zeros : 0;
  return c;
}

bool ParseVersion(std::string_view text, ProgramVersion& version) {
  version.Clear();
  std::size_t pos = SkipBlanks(text, 0);
  const std::size_t after_date = SkipDate(text, pos);
  if (after_date != pos) pos = SkipBlanks(text, after_date);
  if (pos < text.size() && (text[pos] == 'v' || text[pos] == 'V')) ++pos;

  for (;;) {
    pos = SkipBlanks(text, pos);
    const std::size_t end = SkipDigits(text, pos);
    if (end == pos) break;
    version.components.push_back(ComponentFromDigits(text.substr(pos, end - pos)));
    pos = SkipBlanks(text, end);
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) ++pos;
  }
  if (version.components.empty()) return false;

  if (pos < text.size()) {
    std::size_t start = pos;
    while (start > 0 && text[start - 1] == ' ') --start;
    version.suffix.assign(text.substr(start));
  }
  while (version.components.size() >= 3 && version.components.back().value == 0)
    version.components.pop_back();
  return true;
}

std::string FormatVersion(const ProgramVersion& version) {
  std::size_t n = version.components.size();
  while (n > 2 && version.components[n - 1].value == 0) --n;
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const VersionComponent& c = version.components[i];
    if (i) out += '.';
    if (c.zeros > 0) out.append(static_cast<std::size_t>(c.zeros), '0');
    out += std::to_string(c.value);
  }
  out += version.suffix;
  return out;
}

bool IsOlderVersion(const ProgramVersion& a, const ProgramVersion& b) {
  const std::size_t n = std::min(a.components.size(), b.components.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (ComponentLess(a.components[i], b.components[i])) return true;
    if (ComponentLess(b.components[i], a.components[i])) return false;
  }
  return a.components.size() < b.components.size();
}

}  // namespace kv::inventory
