#include "platform/fake/reg_file.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <vector>

#include "text/compare.h"
#include "text/format.h"
#include "text/utf8.h"

namespace kv::platform {
namespace {

std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  for (unsigned char c : s) text::AppendUtf8(out, c);
  return out;
}

std::optional<RootKey> ParseRoot(std::string_view name) {
  if (text::EqualsNoCase(name, "HKEY_LOCAL_MACHINE") || text::EqualsNoCase(name, "HKLM"))
    return RootKey::LocalMachine;
  if (text::EqualsNoCase(name, "HKEY_CURRENT_USER") || text::EqualsNoCase(name, "HKCU"))
    return RootKey::CurrentUser;
  if (text::EqualsNoCase(name, "HKEY_CLASSES_ROOT") || text::EqualsNoCase(name, "HKCR"))
    return RootKey::ClassesRoot;
  return std::nullopt;
}

// Reads a quoted string starting at s[pos] == '"'; moves pos past the closing quote.
std::optional<std::string> ParseQuoted(std::string_view s, std::size_t& pos) {
  if (pos >= s.size() || s[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    const char c = s[pos];
    if (c == '\\' && pos + 1 < s.size()) {
      out += s[++pos];
    } else if (c == '"') {
      ++pos;
      return out;
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<unsigned char>> ParseHexBytes(std::string_view s) {
  std::vector<unsigned char> bytes;
  std::size_t pos = 0;
  while (pos < s.size()) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == ',' || s[pos] == '\t')) ++pos;
    if (pos >= s.size()) break;
    std::size_t end = pos;
    while (end < s.size() && std::isxdigit(static_cast<unsigned char>(s[end]))) ++end;
    if (end == pos || end - pos > 2) return std::nullopt;
    bytes.push_back(static_cast<unsigned char>(std::strtoul(std::string(s.substr(pos, end - pos)).c_str(), nullptr, 16)));
    pos = end;
  }
  return bytes;
}

std::string TextFromBytes(const std::vector<unsigned char>& b, bool utf16) {
  if (!utf16) {
    std::string s(b.begin(), b.end());
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return text::IsValidUtf8(s) ? s : Latin1ToUtf8(s);
  }
  std::u16string w;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) w += static_cast<char16_t>(b[i] | (b[i + 1] << 8));
  while (!w.empty() && w.back() == u'\0') w.pop_back();
  return text::FromUtf16(w);
}

}  // namespace

std::string DecodeRegFileText(std::string_view content) {
  if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
      static_cast<unsigned char>(content[1]) == 0xFE) {
    std::u16string w;
    for (std::size_t i = 2; i + 1 < content.size(); i += 2)
      w += static_cast<char16_t>(static_cast<unsigned char>(content[i]) |
                                 (static_cast<unsigned char>(content[i + 1]) << 8));
    return text::FromUtf16(w);
  }
  if (content.size() >= 3 && content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  return text::IsValidUtf8(content) ? std::string(content) : Latin1ToUtf8(content);
}

RegFileResult LoadRegFile(FakeRegistry& registry, std::string_view content) {
  RegFileResult result;
  const std::string textual = DecodeRegFileText(content);

  // Join continuation lines (a trailing backslash) and split into logical lines.
  std::vector<std::pair<int, std::string>> lines;
  {
    int number = 0;
    std::string pending;
    int pending_line = 0;
    std::size_t pos = 0;
    while (pos <= textual.size()) {
      std::size_t end = textual.find('\n', pos);
      if (end == std::string::npos) end = textual.size();
      std::string line = textual.substr(pos, end - pos);
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (pending.empty()) pending_line = number;
      std::string_view trimmed = line;
      if (!pending.empty())
        while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t'))
          trimmed.remove_prefix(1);
      // Exports wrap long hex data with a trailing backslash; strings and
      // key names never end in one, and a comment is never continued.
      const bool comment = pending.empty() && !trimmed.empty() && trimmed.front() == ';';
      if (!comment && !trimmed.empty() && trimmed.back() == '\\') {
        pending += std::string(trimmed.substr(0, trimmed.size() - 1));
      } else {
        pending += std::string(trimmed);
        lines.emplace_back(pending_line, pending);
        pending.clear();
      }
      if (end == textual.size()) break;
      pos = end + 1;
    }
  }

  bool header = false;
  bool utf16_hex = true;  // REGEDIT4 hex strings are ANSI bytes
  std::unique_ptr<RegistryKey> key;
  bool skipping = false;
  auto fail = [&](int line, const std::string& why) {
    result.ok = false;
    result.error = text::Format("line %d: %s", line, why.c_str());
    return result;
  };

  for (auto& [number, line] : lines) {
    if (line.empty() || line[0] == ';') continue;
    if (!header) {
      if (line == "Windows Registry Editor Version 5.00") {
        header = true;
      } else if (line == "REGEDIT4") {
        header = true;
        utf16_hex = false;
      } else {
        return fail(number, "not a registry export (missing header)");
      }
      continue;
    }
    if (line[0] == '[') {
      const std::size_t close = line.rfind(']');
      if (close == std::string::npos) return fail(number, "unterminated key name");
      std::string name = line.substr(1, close - 1);
      const bool remove = !name.empty() && name[0] == '-';
      if (remove) name.erase(0, 1);
      const std::size_t slash = name.find('\\');
      const auto root = ParseRoot(name.substr(0, slash));
      const std::string path = slash == std::string::npos ? "" : name.substr(slash + 1);
      key.reset();
      skipping = !root;
      if (!root) continue;
      if (remove) {
        registry.DeleteTree(*root, path).IgnoreError();  // absent already is fine
        continue;
      }
      auto created = registry.Create(*root, path);
      if (!created) return fail(number, "cannot create key: " + created.status().ToString());
      key = std::move(created).value();
      ++result.keys;
      continue;
    }
    if (skipping) continue;
    if (!key) return fail(number, "value outside of a key");

    std::string name;
    std::size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else {
      auto quoted = ParseQuoted(line, pos);
      if (!quoted) return fail(number, "bad value name");
      name = *quoted;
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size() || line[pos] != '=') return fail(number, "missing '='");
    ++pos;
    while (pos < line.size() && line[pos] == ' ') ++pos;
    const std::string_view data = std::string_view(line).substr(pos);

    RegValue value;
    if (data == "-") {
      key->DeleteValue(name).IgnoreError();  // absent already is fine
      continue;
    } else if (!data.empty() && data[0] == '"') {
      std::size_t p = 0;
      auto s = ParseQuoted(data, p);
      if (!s) return fail(number, "unterminated string");
      value = RegValue::String(*s);
    } else if (text::StartsWithNoCase(data, "dword:")) {
      const std::string digits(data.substr(6));
      char* end = nullptr;
      const unsigned long v = std::strtoul(digits.c_str(), &end, 16);
      if (digits.empty() || digits.size() > 8 || *end) return fail(number, "bad dword");
      value = RegValue::Dword(static_cast<std::uint32_t>(v));
    } else if (text::StartsWithNoCase(data, "hex")) {
      const std::size_t colon = data.find(':');
      if (colon == std::string_view::npos) return fail(number, "bad hex value");
      const std::string_view kind = data.substr(3, colon - 3);
      auto bytes = ParseHexBytes(data.substr(colon + 1));
      if (!bytes) return fail(number, "bad hex bytes");
      if (kind.empty()) {
        value = RegValue::Binary(std::move(*bytes));
      } else if (kind == "(1)") {
        value = RegValue::String(TextFromBytes(*bytes, utf16_hex));
      } else if (kind == "(2)") {
        value = RegValue::Expand(TextFromBytes(*bytes, utf16_hex));
      } else if ((kind == "(4)" || kind == "(5)") && bytes->size() == 4) {
        const auto& b = *bytes;  // (4) little-endian, (5) big-endian
        const std::uint32_t v = kind == "(4)"
                                    ? b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24)
                                    : b[3] | (b[2] << 8) | (b[1] << 16) | (std::uint32_t(b[0]) << 24);
        value = RegValue::Dword(v);
      } else if (kind == "(7)") {
        value = {RegType::MultiString, TextFromBytes(*bytes, utf16_hex), 0, {}};
      } else if (kind == "(b)" && bytes->size() == 8) {
        std::uint64_t q = 0;
        for (int i = 7; i >= 0; --i) q = (q << 8) | (*bytes)[static_cast<std::size_t>(i)];
        value = {RegType::Qword, {}, q, {}};
      } else {
        value = RegValue::Binary(std::move(*bytes));
      }
    } else {
      return fail(number, "unknown value type");
    }
    if (platform::Status wrote = key->Write(name, value); !wrote)
      return fail(number, "cannot write value: " + wrote.ToString());
    ++result.values;
  }
  if (!header) return fail(1, "empty file");
  result.ok = true;
  return result;
}

}  // namespace kv::platform
