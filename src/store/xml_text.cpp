#include "store/xml_text.h"

#include <limits>
#include <type_traits>

#include "text/compare.h"
#include "text/utf8.h"

namespace kv::store {
namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// Appends the multi-byte sequence at `pos` (moving past it), or U+FFFD for
// one byte that does not start a valid sequence.
void AppendSequence(std::string& out, std::string_view s, std::size_t& pos) {
  const std::size_t start = pos;
  const char32_t cp = text::DecodeNext(s, pos);
  if (cp == text::kReplacement && pos - start == 1)
    out += kReplacementUtf8;
  else
    out.append(s, start, pos - start);
}

struct Decimal {
  bool negative = false;
  std::uint64_t magnitude = 0;  // saturated at the uint64 maximum
};

bool IsCBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

Decimal ReadDecimal(std::string_view t) {
  Decimal d;
  std::size_t i = 0;
  while (i < t.size() && IsCBlank(t[i])) ++i;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) d.negative = t[i++] == '-';
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(t[i] - '0');
    if (d.magnitude > (kMax - digit) / 10) {
      d.magnitude = kMax;
      break;  // every further digit keeps it saturated
    }
    d.magnitude = d.magnitude * 10 + digit;
  }
  return d;
}

template <typename T>
T Saturate(const Decimal& d) {
  using Limits = std::numeric_limits<T>;
  const auto max = static_cast<std::uint64_t>(Limits::max());
  if constexpr (std::is_unsigned_v<T>) {
    if (d.negative) return 0;
    return d.magnitude > max ? Limits::max() : static_cast<T>(d.magnitude);
  } else {
    if (!d.negative) return d.magnitude > max ? Limits::max() : static_cast<T>(d.magnitude);
    if (d.magnitude > max) return Limits::min();  // also exactly -(max + 1)
    return static_cast<T>(-static_cast<T>(d.magnitude));
  }
}

}  // namespace

std::string EncodeXmlText(std::string_view value) {
  std::string out;
  out.reserve(value.size() + value.size() / 8);
  AppendXmlText(out, value);
  return out;
}

void AppendXmlText(std::string& out, std::string_view value) {
  for (std::size_t pos = 0; pos < value.size();) {
    const char c = value[pos];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '"': out += "&quot;"; break;
      case '\0': out += kReplacementUtf8; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x80) {
          AppendSequence(out, value, pos);
          continue;
        }
        out += c;
    }
    ++pos;
  }
}

std::string ToValidUtf8(std::string_view s) {
  if (text::IsValidUtf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (std::size_t pos = 0; pos < s.size();) {
    if (static_cast<unsigned char>(s[pos]) < 0x80)
      out += s[pos++];
    else
      AppendSequence(out, s, pos);
  }
  return out;
}

std::int32_t XmlTextToInt32(std::string_view text) {
  return Saturate<std::int32_t>(ReadDecimal(text));
}
std::uint32_t XmlTextToUInt32(std::string_view text) {
  return Saturate<std::uint32_t>(ReadDecimal(text));
}
std::int64_t XmlTextToInt64(std::string_view text) {
  return Saturate<std::int64_t>(ReadDecimal(text));
}
std::uint64_t XmlTextToUInt64(std::string_view text) {
  return Saturate<std::uint64_t>(ReadDecimal(text));
}

bool XmlTextToBool(std::string_view text) { return text::EqualsNoCase(text, "true"); }

}  // namespace kv::store
