#pragma once
// JSON output helpers shared by kvdiag commands.
#include <string>
#include <string_view>

#include "text/format.h"
#include "text/utf8.h"

namespace kv::diag {

// A JSON string literal; text that is not valid UTF-8 gets U+FFFD.
inline std::string JsonQuote(std::string_view s) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < s.size()) {
    const char32_t cp = text::DecodeNext(s, pos);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (cp < 0x20 || cp == 0x2028 || cp == 0x2029)
          out += text::Format("\\u%04x", unsigned(cp));
        else
          text::AppendUtf8(out, cp);
    }
  }
  out += '"';
  return out;
}

}  // namespace kv::diag
