#include "platform/fake/version_block_builder.h"

#include "text/utf8.h"

namespace kv::platform {
namespace {

void Put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void Set16(std::string& s, std::size_t off, std::uint32_t v) {
  s[off] = static_cast<char>(v & 0xFF);
  s[off + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Pad4(std::string& s) {
  while (s.size() % 4) s += '\0';
}
void PutWide(std::string& s, const std::string& utf8) {
  for (char16_t c : text::ToUtf16(utf8)) Put16(s, c);
  Put16(s, 0);
}

// One node: header, key, value, children; lengths filled in afterwards.
std::string Node(const std::string& key, const std::string& value, std::uint32_t value_length,
                 bool is_text, const std::string& children) {
  std::string n;
  Put16(n, 0);
  Put16(n, value_length);
  Put16(n, is_text ? 1 : 0);
  PutWide(n, key);
  Pad4(n);
  n += value;
  if (!children.empty()) {
    Pad4(n);
    n += children;
  }
  Set16(n, 0, static_cast<std::uint32_t>(n.size()));
  return n;
}

std::string Padded(std::string s) {
  Pad4(s);
  return s;
}

}  // namespace

std::string BuildVersionBlock(const VersionSpec& layout) {
  std::string fixed;
  if (layout.fixed) {
    Put32(fixed, 0xFEEF04BD);
    Put32(fixed, 0x00010000);
    Put32(fixed, (layout.file[0] << 16) | layout.file[1]);
    Put32(fixed, (layout.file[2] << 16) | layout.file[3]);
    Put32(fixed, (static_cast<std::uint32_t>(layout.product[0]) << 16) | layout.product[1]);
    Put32(fixed, (static_cast<std::uint32_t>(layout.product[2]) << 16) | layout.product[3]);
    for (int i = 0; i < 7; ++i) Put32(fixed, 0);
  }
  std::string children;
  if (!layout.tables.empty()) {
    std::string tables;
    for (const auto& t : layout.tables) {
      std::string strings;
      for (const auto& [k, v] : t.values) {
        std::string value;
        PutWide(value, v);
        strings += Padded(Node(k, value, static_cast<std::uint32_t>(value.size() / 2), true, ""));
      }
      tables += Padded(Node(t.table_key, "", 0, true, strings));
    }
    children += Padded(Node("StringFileInfo", "", 0, true, tables));
  }
  if (layout.translation_table) {
    std::string pairs;
    for (auto [lang, cp] : layout.translations) {
      Put16(pairs, lang);
      Put16(pairs, cp);
    }
    std::string var = Padded(Node("Translation", pairs, static_cast<std::uint32_t>(pairs.size()), false, ""));
    children += Padded(Node("VarFileInfo", "", 0, true, var));
  }
  return Node("VS_VERSION_INFO", fixed, static_cast<std::uint32_t>(fixed.size()), false, children);
}

std::string BuildPeImage(const std::string* version_block) {
  constexpr std::uint32_t kFileAlign = 0x200, kSectionRva = 0x1000;
  std::string img(0x40, '\0');
  img[0] = 'M', img[1] = 'Z';
  Set16(img, 0x3C, 0x40);  // e_lfanew
  img += std::string("PE\0\0", 4);
  // COFF header: machine, sections, time, symbols, count, optional size, flags.
  Put16(img, 0x8664);
  Put16(img, 1);
  Put32(img, 0), Put32(img, 0), Put32(img, 0);
  Put16(img, 240);  // PE32+ optional header with 16 directories
  Put16(img, 0x22);
  const std::size_t opt = img.size();
  std::string o(240, '\0');
  o[0] = 0x0B, o[1] = 0x02;  // PE32+
  auto set32 = [&](std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) o[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  set32(108, 16);  // NumberOfRvaAndSizes

  std::string rsrc;
  if (version_block) {
    // Three directory levels (type 16, id 1, language 1033), then the data entry.
    auto dir = [&](std::uint32_t id, std::uint32_t target) {
      for (int i = 0; i < 12; ++i) rsrc += '\0';
      Put16(rsrc, 0);
      Put16(rsrc, 1);
      Put32(rsrc, id);
      Put32(rsrc, target);
    };
    dir(16, 0x80000000u | 24);
    dir(1, 0x80000000u | 48);
    dir(1033, 72);
    const std::uint32_t data_off = 88;
    Put32(rsrc, kSectionRva + data_off);
    Put32(rsrc, static_cast<std::uint32_t>(version_block->size()));
    Put32(rsrc, 0), Put32(rsrc, 0);
    rsrc += *version_block;
    set32(112 + 2 * 8, kSectionRva);
    set32(112 + 2 * 8 + 4, static_cast<std::uint32_t>(rsrc.size()));
  }
  img += o;
  (void)opt;
  // Section header ".rsrc".
  std::string sh(40, '\0');
  sh.replace(0, 5, ".rsrc");
  const std::uint32_t raw_size = static_cast<std::uint32_t>((rsrc.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
  auto sh32 = [&](std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) sh[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  sh32(8, static_cast<std::uint32_t>(rsrc.size()));
  sh32(12, kSectionRva);
  sh32(16, raw_size);
  sh32(20, kFileAlign);
  img += sh;
  img.resize(kFileAlign, '\0');
  img += rsrc;
  img.resize(kFileAlign + raw_size, '\0');
  return img;
}

}  // namespace kv::platform
