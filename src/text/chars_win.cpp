#include <windows.h>

#include "text/chars.h"

namespace kv::text {

// Only Basic Multilingual Plane code points get here (chars.h decides the rest).

bool IsLetterSlow(char32_t cp) {
  return cp < 0x10000 && IsCharAlphaW(static_cast<WCHAR>(cp)) != FALSE;
}

char32_t ToUpperSlow(char32_t cp) {
  if (cp >= 0x10000) return cp;
  WCHAR c = static_cast<WCHAR>(cp);
  CharUpperBuffW(&c, 1);
  return c;
}

char32_t ToLowerSlow(char32_t cp) {
  if (cp >= 0x10000) return cp;
  WCHAR c = static_cast<WCHAR>(cp);
  CharLowerBuffW(&c, 1);
  return c;
}

}  // namespace kv::text
