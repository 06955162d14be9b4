#pragma once
// UTF-8 is the in-memory text of the whole client; these are the conversions
// at the edges (UTF-16 for the Windows wide APIs and the XML parser).
#include <cstddef>
#include <string>
#include <string_view>

namespace kv::text {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos` and moves `pos` past it. A malformed or
// truncated sequence yields U+FFFD and consumes one byte, so any byte string
// can be walked without losing position.
char32_t DecodeNext(std::string_view s, std::size_t& pos);

void AppendUtf8(std::string& out, char32_t cp);

// Characters (code points, a malformed byte counting as one) in `s`.
std::size_t CountChars(std::string_view s);

// True when `s` is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

std::u16string ToUtf16(std::string_view s);
std::string FromUtf16(std::u16string_view s);

}  // namespace kv::text
