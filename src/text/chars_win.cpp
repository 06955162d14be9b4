#include <windows.h>

#include "text/chars.h"

namespace kv::text {
namespace {

// The user32 functions work on UTF-16 units; code points beyond the BMP are
// treated as letters when they are in the supplementary letter planes.
bool Encode(char32_t cp, WCHAR (&buf)[3]) {
  if (cp >= 0x10000) return false;
  buf[0] = static_cast<WCHAR>(cp);
  buf[1] = 0;
  return true;
}

}  // namespace

bool IsLetterSlow(char32_t cp) {
  WCHAR buf[3];
  if (!Encode(cp, buf)) {
    WORD type = 0;
    WCHAR pair[2] = {static_cast<WCHAR>(0xD800 | ((cp - 0x10000) >> 10)),
                     static_cast<WCHAR>(0xDC00 | ((cp - 0x10000) & 0x3FF))};
    WORD types[2] = {0, 0};
    if (!GetStringTypeW(CT_CTYPE1, pair, 2, types)) return false;
    type = types[0];
    return (type & C1_ALPHA) != 0;
  }
  return IsCharAlphaW(buf[0]) != FALSE;
}

char32_t ToUpperSlow(char32_t cp) {
  WCHAR buf[3];
  if (!Encode(cp, buf)) return cp;
  CharUpperBuffW(buf, 1);
  return buf[0];
}

char32_t ToLowerSlow(char32_t cp) {
  WCHAR buf[3];
  if (!Encode(cp, buf)) return cp;
  CharLowerBuffW(buf, 1);
  return buf[0];
}

}  // namespace kv::text
