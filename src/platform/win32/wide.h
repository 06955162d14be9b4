#pragma once
// UTF-8 <-> UTF-16 at the Win32 boundary (wchar_t is 16 bits on Windows).
#include <string>
#include <string_view>

#include "text/utf8.h"

namespace kv::platform::win32 {

inline std::wstring Widen(std::string_view s) {
  const std::u16string w = text::ToUtf16(s);
  return std::wstring(w.begin(), w.end());
}

inline std::string Narrow(std::wstring_view w) {
  return text::FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

}  // namespace kv::platform::win32
