#pragma once
// Unicode-aware character classes and case mapping on code points. ASCII is
// answered inline; everything else asks the platform (the C library's wide
// functions under a UTF-8 locale on Linux, the user32 functions on Windows).
#include <string>
#include <string_view>

namespace kv::text {

bool IsLetterSlow(char32_t cp);
char32_t ToUpperSlow(char32_t cp);
char32_t ToLowerSlow(char32_t cp);

// Decimal digits are ASCII only: versions and numbers are read as C would.
inline bool IsDigit(char32_t cp) { return cp >= '0' && cp <= '9'; }

// Beyond the Basic Multilingual Plane the platforms disagree (user32 sees
// surrogates one at a time), so one fixed rule serves both: the script and
// ideograph blocks are letters; symbols, emoji, tags and private use are not.
inline bool IsSupplementaryLetter(char32_t cp) {
  return (cp >= 0x10000 && cp <= 0x1CFFF) || (cp >= 0x1D400 && cp <= 0x1D7FF) ||
         (cp >= 0x1E000 && cp <= 0x1EFFF) || (cp >= 0x20000 && cp <= 0x3FFFF);
}

inline bool IsLetter(char32_t cp) {
  if (cp < 0x80) return (cp | 0x20) >= 'a' && (cp | 0x20) <= 'z';
  if (cp >= 0x10000) return IsSupplementaryLetter(cp);
  return IsLetterSlow(cp);
}

inline bool IsAlnum(char32_t cp) { return IsDigit(cp) || IsLetter(cp); }

inline bool IsUpperAscii(char32_t cp) { return cp >= 'A' && cp <= 'Z'; }

// Case mapping stays within the Basic Multilingual Plane on both platforms.
inline char32_t ToUpper(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 0x20 : cp;
  if (cp >= 0x10000) return cp;
  return ToUpperSlow(cp);
}

inline char32_t ToLower(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 0x20 : cp;
  if (cp >= 0x10000) return cp;
  return ToLowerSlow(cp);
}

std::string ToUpper(std::string_view s);
std::string ToLower(std::string_view s);

}  // namespace kv::text
