#include "platform/fake/version_block_builder.h"

#include <algorithm>

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

namespace {

struct Resource {
  std::uint16_t type;
  std::string name;  // empty for an id
  std::uint16_t id;
  std::string data;
};

// The resource section at `rva`: type, name and language directories, data
// entries, name strings, then the data. Types and ids ascend, named entries
// come before ids, as linkers write them.
std::string ResourceSection(std::vector<Resource> res, std::uint32_t rva) {
  std::stable_sort(res.begin(), res.end(), [](const Resource& a, const Resource& b) {
    if (a.type != b.type) return a.type < b.type;
    if (a.name.empty() != b.name.empty()) return !a.name.empty();
    return a.name.empty() ? a.id < b.id : a.name < b.name;
  });
  std::vector<std::uint16_t> types;
  for (const auto& r : res)
    if (types.empty() || types.back() != r.type) types.push_back(r.type);
  auto count_of = [&](std::uint16_t t) {
    return static_cast<std::uint32_t>(std::count_if(res.begin(), res.end(), [&](const Resource& r) { return r.type == t; }));
  };
  // Offsets of every part, in the order they are written.
  std::uint32_t at = 16 + 8 * static_cast<std::uint32_t>(types.size());
  std::vector<std::uint32_t> type_dir, lang_dir, data_entry, name_off, data_off;
  for (auto t : types) type_dir.push_back(at), at += 16 + 8 * count_of(t);
  for (std::size_t i = 0; i < res.size(); ++i) lang_dir.push_back(at), at += 16 + 8;
  for (std::size_t i = 0; i < res.size(); ++i) data_entry.push_back(at), at += 16;
  for (const auto& r : res) {
    name_off.push_back(at);
    if (!r.name.empty()) at += 2 + 2 * static_cast<std::uint32_t>(text::ToUtf16(r.name).size());
  }
  for (const auto& r : res) {
    at = (at + 7) & ~7u;
    data_off.push_back(at);
    at += static_cast<std::uint32_t>(r.data.size());
  }
  std::string s;
  auto dir_header = [&](std::uint32_t named, std::uint32_t ids) {
    s.append(12, '\0');
    Put16(s, named);
    Put16(s, ids);
  };
  dir_header(0, static_cast<std::uint32_t>(types.size()));
  for (std::size_t t = 0; t < types.size(); ++t) Put32(s, types[t]), Put32(s, 0x80000000u | type_dir[t]);
  for (auto t : types) {
    std::uint32_t named = 0;
    for (const auto& r : res) named += r.type == t && !r.name.empty();
    dir_header(named, count_of(t) - named);
    for (std::size_t i = 0; i < res.size(); ++i) {
      if (res[i].type != t) continue;
      Put32(s, res[i].name.empty() ? res[i].id : 0x80000000u | name_off[i]);
      Put32(s, 0x80000000u | lang_dir[i]);
    }
  }
  for (std::size_t i = 0; i < res.size(); ++i) {
    dir_header(0, 1);
    Put32(s, 1033);
    Put32(s, data_entry[i]);
  }
  for (std::size_t i = 0; i < res.size(); ++i) {
    Put32(s, rva + data_off[i]);
    Put32(s, static_cast<std::uint32_t>(res[i].data.size()));
    Put32(s, 0), Put32(s, 0);
  }
  for (const auto& r : res) {
    if (r.name.empty()) continue;
    const std::u16string w = text::ToUtf16(r.name);
    Put16(s, static_cast<std::uint32_t>(w.size()));
    for (char16_t c : w) Put16(s, c);
  }
  for (std::size_t i = 0; i < res.size(); ++i) {
    s.resize(data_off[i], '\0');
    s += res[i].data;
  }
  return s;
}

}  // namespace

std::string BuildIconImage(int size, std::uint32_t bgra) {
  const std::uint32_t n = static_cast<std::uint32_t>(size);
  const std::uint32_t mask_row = (n + 31) / 32 * 4;
  std::string d;
  Put32(d, 40);  // BITMAPINFOHEADER
  Put32(d, n);
  Put32(d, 2 * n);  // colour and mask rows
  Put16(d, 1);
  Put16(d, 32);
  Put32(d, 0);
  Put32(d, n * n * 4 + mask_row * n);
  for (int i = 0; i < 4; ++i) Put32(d, 0);
  for (std::uint32_t i = 0; i < n * n; ++i) Put32(d, bgra);
  d.append(static_cast<std::size_t>(mask_row) * n, '\0');  // all opaque
  return d;
}

std::string BuildPeImage(const std::string* version_block,
                         const std::vector<IconGroupSpec>& icon_groups) {
  constexpr std::uint32_t kFileAlign = 0x200, kSectionRva = 0x1000;
  std::vector<Resource> resources;
  if (version_block) resources.push_back({16, "", 1, *version_block});
  std::uint16_t next_icon = 1;
  for (std::size_t g = 0; g < icon_groups.size(); ++g) {
    std::string dir;
    Put16(dir, 0);
    Put16(dir, 1);
    Put16(dir, static_cast<std::uint32_t>(icon_groups[g].sizes.size()));
    for (int size : icon_groups[g].sizes) {
      // Colours differ per group, so images of different groups differ.
      const std::string image = BuildIconImage(size, 0xFF000000u | (0x3050A0u + 0x402010u * static_cast<std::uint32_t>(g)));
      dir += static_cast<char>(size & 0xFF);  // 256 is written as 0
      dir += static_cast<char>(size & 0xFF);
      dir += '\0', dir += '\0';
      Put16(dir, 1);
      Put16(dir, 32);
      Put32(dir, static_cast<std::uint32_t>(image.size()));
      Put16(dir, next_icon);
      resources.push_back({3, "", next_icon++, image});
    }
    resources.push_back({14, icon_groups[g].name, icon_groups[g].id, dir});
  }

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
  std::string o(240, '\0');
  o[0] = 0x0B, o[1] = 0x02;  // PE32+
  auto set32 = [&](std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) o[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  set32(108, 16);  // NumberOfRvaAndSizes

  std::string rsrc;
  if (!resources.empty()) {
    rsrc = ResourceSection(std::move(resources), kSectionRva);
    set32(112 + 2 * 8, kSectionRva);
    set32(112 + 2 * 8 + 4, static_cast<std::uint32_t>(rsrc.size()));
  }
  img += o;
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
