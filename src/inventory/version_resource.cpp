#include "inventory/version_resource.h"

#include <vector>

#include "text/compare.h"
#include "text/utf8.h"

namespace kv::inventory {
namespace {

std::uint32_t U16(std::string_view b, std::size_t off) {
  if (off + 2 > b.size()) return 0;
  return static_cast<unsigned char>(b[off]) | (static_cast<unsigned char>(b[off + 1]) << 8);
}

std::size_t Align4(std::size_t v) { return (v + 3) & ~static_cast<std::size_t>(3); }

// UTF-16 text from `off` up to a zero unit or `end`; `next` is past the zero.
std::u16string ReadWide(std::string_view b, std::size_t off, std::size_t end, std::size_t* next) {
  std::u16string s;
  std::size_t p = off;
  for (; p + 2 <= end; p += 2) {
    const char16_t c = static_cast<char16_t>(U16(b, p));
    if (c == 0) {
      p += 2;
      break;
    }
    s += c;
  }
  if (next) *next = p;
  return s;
}

struct Node {
  std::size_t start = 0, end = 0;  // the node's bytes
  std::u16string key;
  std::size_t value = 0, value_end = 0;
  std::size_t children = 0;
  bool text = false;
};

std::optional<Node> ParseNode(std::string_view b, std::size_t start, std::size_t limit) {
  if (start + 6 > limit) return std::nullopt;
  const std::size_t length = U16(b, start);
  if (length < 6 || start + length > limit) return std::nullopt;
  Node n;
  n.start = start;
  n.end = start + length;
  const std::size_t value_length = U16(b, start + 2);
  n.text = U16(b, start + 4) == 1;
  std::size_t after_key = 0;
  n.key = ReadWide(b, start + 6, n.end, &after_key);
  n.value = std::min(Align4(after_key), n.end);
  const std::size_t bytes = n.text ? value_length * 2 : value_length;
  n.value_end = std::min(n.value + bytes, n.end);
  n.children = std::min(Align4(n.value_end), n.end);
  return n;
}

std::vector<std::u16string> SplitPath(std::string_view path) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(text::ToUtf16(path.substr(start, end - start)));
    start = end + 1;
  }
  return parts;
}

bool KeyEquals(const std::u16string& a, const std::u16string& b) {
  return text::EqualsNoCase(text::FromUtf16(a), text::FromUtf16(b));
}

std::optional<Node> Find(std::string_view block, std::string_view path) {
  auto node = ParseNode(block, 0, block.size());
  if (!node) return std::nullopt;
  for (const auto& part : SplitPath(path)) {
    std::optional<Node> found;
    for (std::size_t p = node->children; p < node->end;) {
      auto child = ParseNode(block, p, node->end);
      if (!child) break;
      if (KeyEquals(child->key, part)) {
        found = child;
        break;
      }
      p = Align4(child->end);
    }
    if (!found) return std::nullopt;
    node = found;
  }
  return node;
}

}  // namespace

std::optional<std::string_view> QueryVersionValue(std::string_view block, std::string_view path) {
  auto node = Find(block, path);
  if (!node) return std::nullopt;
  return block.substr(node->value, node->value_end - node->value);
}

std::optional<std::string> QueryVersionString(std::string_view block, std::string_view path) {
  auto node = Find(block, path);
  if (!node) return std::nullopt;
  // Some compilers count the length in bytes, some in characters: read up to
  // the terminating zero within the node instead of trusting it.
  return text::FromUtf16(ReadWide(block, node->value, node->end, nullptr));
}

std::size_t RootValueEnd(std::string_view block) {
  auto root = ParseNode(block, 0, block.size());
  return root ? root->value_end : 0;
}

std::optional<std::string> FindStringTableKey(std::string_view block, std::size_t from) {
  static const std::u16string marker = u"StringFileInfo";
  const std::size_t need = marker.size() * 2;
  std::size_t pos = from;
  bool found = false;
  for (; pos + need <= block.size(); ++pos) {
    bool match = true;
    for (std::size_t i = 0; i < marker.size() && match; ++i)
      match = U16(block, pos + 2 * i) == marker[i];
    if (match) {
      found = true;
      pos += need;
      break;
    }
  }
  if (!found) return std::nullopt;
  auto alnum = [](char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  // The zero-terminated strings that start at any unit: the earliest one made
  // only of letters and digits is the longest such run ending at a zero unit
  // (the key follows the table header's type word directly, without a zero).
  std::u16string run;
  for (; pos + 2 <= block.size(); pos += 2) {
    const char16_t c = static_cast<char16_t>(U16(block, pos));
    if (c == 0) {
      if (run.size() > 7) return text::FromUtf16(run);
      run.clear();
    } else if (alnum(c)) {
      run += c;
    } else {
      run.clear();
    }
  }
  return std::nullopt;
}

}  // namespace kv::inventory
