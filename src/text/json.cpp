#include "text/json.h"

#include "text/format.h"
#include "text/utf8.h"

namespace kv::text {

namespace {

constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxInput = 16 * 1024 * 1024;

class JsonParser {
 public:
  explicit JsonParser(std::string_view s) : s_(s) {}

  bool Parse(JsonValue& out, std::string& error) {
    if (s_.size() > kMaxInput) return Fail("input too large", error);
    if (s_.size() >= 3 && s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;  // BOM
    if (!Value(out, 0)) return Fail(error_, error);
    SkipBlanks();
    if (pos_ != s_.size()) return Fail("text after the document", error);
    return true;
  }

 private:
  bool Fail(const std::string& what, std::string& error) {
    error = "offset " + std::to_string(pos_) + ": " + what;
    return false;
  }
  bool Error(const char* what) {
    error_ = what;
    return false;
  }
  void SkipBlanks() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return Error("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue& v, int depth) {
    if (depth > kMaxDepth) return Error("nested too deeply");
    SkipBlanks();
    if (pos_ >= s_.size()) return Error("unexpected end");
    const char c = s_[pos_];
    switch (c) {
      case '{': return Object(v, depth);
      case '[': return Array(v, depth);
      case '"': v.kind = JsonValue::Kind::String; return String(v.text);
      case 't': v.kind = JsonValue::Kind::Bool; v.boolean = true; return Literal("true");
      case 'f': v.kind = JsonValue::Kind::Bool; return Literal("false");
      case 'n': v.kind = JsonValue::Kind::Null; return Literal("null");
      default: return Number(v);
    }
  }

  bool Number(JsonValue& v) {
    v.kind = JsonValue::Kind::Number;
    if (pos_ < s_.size() && s_[pos_] == '-') {
      v.negative = true;
      ++pos_;
    }
    const std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
      const unsigned d = static_cast<unsigned>(s_[pos_] - '0');
      if (v.number > (UINT64_MAX - d) / 10) return Error("number too large");
      v.number = v.number * 10 + d;
      ++pos_;
    }
    if (pos_ == start) return Error("unexpected character");
    if (s_[start] == '0' && pos_ - start > 1) return Error("leading zero");
    if (pos_ < s_.size() && (s_[pos_] == '.' || s_[pos_] == 'e' || s_[pos_] == 'E'))
      return Error("only integers are allowed");
    return true;
  }

  bool Hex4(unsigned& out) {
    if (s_.size() - pos_ < 4) return Error("short \\u escape");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s_[pos_++];
      out <<= 4;
      if (h >= '0' && h <= '9') out |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') out |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') out |= static_cast<unsigned>(h - 'A' + 10);
      else return Error("bad \\u escape");
    }
    return true;
  }

  bool String(std::string& out) {
    ++pos_;  // the opening quote
    const std::size_t start = pos_;
    for (;;) {
      if (pos_ >= s_.size()) return Error("unterminated string");
      const unsigned char c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') break;
      if (c < 0x20) return Error("control character in string");
      if (c != '\\') {
        out += static_cast<char>(c);
        ++pos_;
        continue;
      }
      if (++pos_ >= s_.size()) return Error("unterminated string");
      const char e = s_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return Error("lone low surrogate");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low = 0;
            if (s_.substr(pos_, 2) != "\\u") return Error("lone high surrogate");
            pos_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Error("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, static_cast<char32_t>(cp));
          break;
        }
        default: return Error("unknown escape");
      }
    }
    ++pos_;  // the closing quote
    if (!IsValidUtf8(std::string_view(s_).substr(start, pos_ - start - 1)))
      return Error("string is not UTF-8");
    return true;
  }

  bool Array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Array;
    ++pos_;
    SkipBlanks();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      v.items.emplace_back();
      if (!Value(v.items.back(), depth + 1)) return false;
      SkipBlanks();
      if (pos_ >= s_.size()) return Error("unterminated array");
      if (s_[pos_] == ']') break;
      if (s_[pos_] != ',') return Error("expected ',' or ']'");
      ++pos_;
    }
    ++pos_;
    return true;
  }

  bool Object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::Object;
    ++pos_;
    SkipBlanks();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipBlanks();
      if (pos_ >= s_.size() || s_[pos_] != '"') return Error("expected a key");
      std::string key;
      if (!String(key)) return false;
      if (v.Find(key)) return Error("duplicate key");
      SkipBlanks();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Error("expected ':'");
      ++pos_;
      v.members.push_back(JsonMember{std::move(key), JsonValue{}});
      if (!Value(v.members.back().second, depth + 1)) return false;
      SkipBlanks();
      if (pos_ >= s_.size()) return Error("unterminated object");
      if (s_[pos_] == '}') break;
      if (s_[pos_] != ',') return Error("expected ',' or '}'");
      ++pos_;
    }
    ++pos_;
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const auto& [k, v] : members)
    if (k == key) return &v;
  return nullptr;
}

bool ParseJson(std::string_view json, JsonValue& out, std::string& error) {
  out = JsonValue{};
  return JsonParser(json).Parse(out, error);
}

std::string JsonQuote(std::string_view s) {
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < s.size()) {
    const char32_t cp = DecodeNext(s, pos);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (cp < 0x20 || cp == 0x2028 || cp == 0x2029)
          out += Format("\\u%04x", unsigned(cp));
        else
          AppendUtf8(out, cp);
    }
  }
  out += '"';
  return out;
}

}  // namespace kv::text
