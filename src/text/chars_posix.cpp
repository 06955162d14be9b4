#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

#include "text/chars.h"

namespace kv::text {
namespace {

// A private UTF-8 locale, so that the classes never depend on the locale the
// process happens to run under.
locale_t Utf8Locale() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

}  // namespace

bool IsLetterSlow(char32_t cp) {
  const locale_t loc = Utf8Locale();
  return loc && iswalpha_l(static_cast<wint_t>(cp), loc);
}

char32_t ToUpperSlow(char32_t cp) {
  const locale_t loc = Utf8Locale();
  return loc ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), loc)) : cp;
}

char32_t ToLowerSlow(char32_t cp) {
  const locale_t loc = Utf8Locale();
  return loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc)) : cp;
}

}  // namespace kv::text
