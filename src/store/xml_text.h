#pragma once
// Text conventions shared by every XML file and document of the client: how a
// string value is escaped for writing, and how a field's text is read back as
// a number or a boolean.
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::store {

// Escapes `value` for use between a start and an end tag or inside a
// double-quoted attribute: "&" first, then "<" and the double quote. Nothing
// else is escaped; control characters pass through. The result is valid
// UTF-8: bytes that are not valid UTF-8, and NUL (which would end the
// parser's input), become U+FFFD, so a written document always parses again.
std::string EncodeXmlText(std::string_view value);
// The same, appended to `out` (the writer's one buffer).
void AppendXmlText(std::string& out, std::string_view value);

// `text` with every byte that is not part of valid UTF-8 replaced by U+FFFD;
// `text` itself when it is valid.
std::string ToValidUtf8(std::string_view text);

// Decimal text read by the C rules: leading blanks (space, tab, CR, LF, VT,
// FF) skipped, an optional sign, ASCII digits up to the first non-digit;
// anything else reads as 0. A value outside the type's range saturates at
// the nearest end, also for a negative value in an unsigned field (which
// reads as 0, unlike strtoul's wrap-around).
std::int32_t XmlTextToInt32(std::string_view text);
std::uint32_t XmlTextToUInt32(std::string_view text);
std::int64_t XmlTextToInt64(std::string_view text);
std::uint64_t XmlTextToUInt64(std::string_view text);

// True when `text` equals "true" without regard to case ("1", "yes", "" and
// " true" are false).
bool XmlTextToBool(std::string_view text);

}  // namespace kv::store
