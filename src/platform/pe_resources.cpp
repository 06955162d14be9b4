#include "platform/pe_resources.h"

namespace kv::platform {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view data) : d_(data) {}
  bool Has(std::uint64_t off, std::uint64_t n) const { return off <= d_.size() && n <= d_.size() - off; }
  std::uint32_t U16(std::uint64_t off, bool& ok) const { return Le(off, 2, ok); }
  std::uint32_t U32(std::uint64_t off, bool& ok) const { return Le(off, 4, ok); }
  std::string_view Slice(std::uint64_t off, std::uint64_t n) const { return d_.substr(off, n); }

 private:
  std::uint32_t Le(std::uint64_t off, int n, bool& ok) const {
    if (!Has(off, static_cast<std::uint64_t>(n))) {
      ok = false;
      return 0;
    }
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(d_[off + i]);
    return v;
  }
  std::string_view d_;
};

struct Section {
  std::uint32_t va, vsize, raw, rawsize;
};

constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;  // a named entry, or a subdirectory

// The resource section of a PE image: its root directory and the section
// table that maps RVAs to file offsets.
class ResourceSection {
 public:
  explicit ResourceSection(std::string_view image) : r_(image) { ok_ = Open(); }
  bool ok() const { return ok_; }

  // Name and target fields of a directory's entries, up to the image's end.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Entries(std::uint64_t dir) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    bool ok = true;
    const std::uint32_t total = r_.U16(dir + 12, ok) + r_.U16(dir + 14, ok);
    for (std::uint32_t i = 0; ok && i < total; ++i) {
      const std::uint64_t e = dir + 16 + static_cast<std::uint64_t>(i) * 8;
      const std::uint32_t name = r_.U32(e, ok), target = r_.U32(e + 4, ok);
      if (ok) out.emplace_back(name, target);
    }
    return out;
  }
  // The subdirectory an entry's target names, or nullopt for a data entry.
  std::optional<std::uint64_t> Subdir(std::uint32_t target) const {
    if (!(target & kHighBit)) return std::nullopt;
    return root_ + (target & ~kHighBit);
  }
  // The bytes a name entry's target holds in its first language. The walk
  // has a fixed depth, so directories that point back at themselves end.
  std::optional<std::string_view> FirstLanguageData(std::uint32_t target) const {
    const auto langs = Subdir(target);
    if (!langs) return std::nullopt;
    bool ok = true;
    const std::uint32_t count = r_.U16(*langs + 12, ok) + r_.U16(*langs + 14, ok);
    const std::uint32_t first = r_.U32(*langs + 16 + 4, ok);
    if (!ok || count == 0 || (first & kHighBit)) return std::nullopt;
    const std::uint64_t entry = root_ + first;
    const std::uint32_t rva = r_.U32(entry, ok), size = r_.U32(entry + 4, ok);
    std::uint64_t off;
    if (!ok || !ToOffset(rva, off) || !r_.Has(off, size)) return std::nullopt;
    return r_.Slice(off, size);
  }
  std::uint64_t root() const { return root_; }

 private:
  bool Open() {
    bool ok = true;
    if (r_.U16(0, ok) != 0x5A4D || !ok) return false;  // "MZ"
    const std::uint32_t pe = r_.U32(0x3C, ok);
    if (!ok || r_.U32(pe, ok) != 0x00004550 || !ok) return false;  // "PE\0\0"
    const std::uint64_t coff = static_cast<std::uint64_t>(pe) + 4;
    const std::uint32_t sections = r_.U16(coff + 2, ok);
    const std::uint32_t opt_size = r_.U16(coff + 16, ok);
    const std::uint64_t opt = coff + 20;
    const std::uint32_t magic = r_.U16(opt, ok);
    if (!ok) return false;
    std::uint64_t dirs;
    if (magic == 0x10B) dirs = opt + 96;        // PE32
    else if (magic == 0x20B) dirs = opt + 112;  // PE32+
    else return false;
    const std::uint32_t dir_count = r_.U32(dirs - 4, ok);
    if (!ok || dir_count < 3 || dirs + 3 * 8 > opt + opt_size) return false;
    const std::uint32_t rsrc_rva = r_.U32(dirs + 2 * 8, ok);
    if (!ok || rsrc_rva == 0) return false;
    const std::uint64_t sec = opt + opt_size;
    for (std::uint32_t i = 0; i < sections && i < 96; ++i) {
      const std::uint64_t h = sec + static_cast<std::uint64_t>(i) * 40;
      Section s{r_.U32(h + 12, ok), r_.U32(h + 8, ok), r_.U32(h + 20, ok), r_.U32(h + 16, ok)};
      if (!ok) return false;
      table_.push_back(s);
    }
    return ToOffset(rsrc_rva, root_);
  }
  // File offset of an RVA inside a section's raw data.
  bool ToOffset(std::uint32_t rva, std::uint64_t& off) const {
    for (const auto& s : table_) {
      const std::uint32_t span = s.vsize ? s.vsize : s.rawsize;
      if (rva >= s.va && rva - s.va < span && rva - s.va < s.rawsize) {
        off = static_cast<std::uint64_t>(s.raw) + (rva - s.va);
        return true;
      }
    }
    return false;
  }

  Reader r_;
  std::vector<Section> table_;
  std::uint64_t root_ = 0;
  bool ok_ = false;
};

}  // namespace

std::vector<PeResource> ListPeResources(std::string_view image, std::uint16_t type) {
  std::vector<PeResource> out;
  const ResourceSection rs(image);
  if (!rs.ok()) return out;
  std::optional<std::uint64_t> names;
  for (const auto& [name, target] : rs.Entries(rs.root())) {
    if (name == type) {
      names = rs.Subdir(target);
      break;
    }
  }
  if (!names) return out;
  for (const auto& [name, target] : rs.Entries(*names)) {
    PeResource r;
    if (!(name & kHighBit)) r.id = static_cast<std::uint16_t>(name & 0xFFFF);
    r.data = rs.FirstLanguageData(target);
    out.push_back(r);
  }
  return out;
}

std::optional<std::string> ExtractVersionResource(std::string_view image) {
  const auto found = ListPeResources(image, kRtVersion);
  if (found.empty() || !found.front().data) return std::nullopt;
  return std::string(*found.front().data);
}

}  // namespace kv::platform
