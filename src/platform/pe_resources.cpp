#include "platform/pe_resources.h"

#include <cstdint>
#include <vector>

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

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kSubdirFlag = 0x80000000u;

}  // namespace

std::optional<std::string> ExtractVersionResource(std::string_view image) {
  Reader r(image);
  bool ok = true;
  if (r.U16(0, ok) != 0x5A4D || !ok) return std::nullopt;  // "MZ"
  const std::uint32_t pe = r.U32(0x3C, ok);
  if (!ok || r.U32(pe, ok) != 0x00004550 || !ok) return std::nullopt;  // "PE\0\0"
  const std::uint64_t coff = static_cast<std::uint64_t>(pe) + 4;
  const std::uint32_t sections = r.U16(coff + 2, ok);
  const std::uint32_t opt_size = r.U16(coff + 16, ok);
  const std::uint64_t opt = coff + 20;
  const std::uint32_t magic = r.U16(opt, ok);
  if (!ok) return std::nullopt;
  std::uint64_t dirs;
  if (magic == 0x10B) dirs = opt + 96;        // PE32
  else if (magic == 0x20B) dirs = opt + 112;  // PE32+
  else return std::nullopt;
  const std::uint32_t dir_count = r.U32(dirs - 4, ok);
  if (!ok || dir_count < 3 || dirs + 3 * 8 > opt + opt_size) return std::nullopt;
  const std::uint32_t rsrc_rva = r.U32(dirs + 2 * 8, ok);
  if (!ok || rsrc_rva == 0) return std::nullopt;

  std::vector<Section> table;
  const std::uint64_t sec = opt + opt_size;
  for (std::uint32_t i = 0; i < sections && i < 96; ++i) {
    const std::uint64_t h = sec + static_cast<std::uint64_t>(i) * 40;
    Section s{r.U32(h + 12, ok), r.U32(h + 8, ok), r.U32(h + 20, ok), r.U32(h + 16, ok)};
    if (!ok) return std::nullopt;
    table.push_back(s);
  }
  // File offset of an RVA, and how many bytes of the section remain there.
  auto to_offset = [&](std::uint32_t rva, std::uint64_t& off) {
    for (const auto& s : table) {
      const std::uint32_t span = s.vsize ? s.vsize : s.rawsize;
      if (rva >= s.va && rva - s.va < span && rva - s.va < s.rawsize) {
        off = static_cast<std::uint64_t>(s.raw) + (rva - s.va);
        return true;
      }
    }
    return false;
  };
  std::uint64_t root;
  if (!to_offset(rsrc_rva, root)) return std::nullopt;

  // First entry of a directory, with the wanted id at the type level.
  auto pick = [&](std::uint64_t dir, bool want_type, std::uint32_t& target) {
    const std::uint32_t named = r.U16(dir + 12, ok);
    const std::uint32_t ids = r.U16(dir + 14, ok);
    if (!ok) return false;
    const std::uint32_t total = named + ids;
    for (std::uint32_t i = 0; i < total && i < 4096; ++i) {
      const std::uint64_t e = dir + 16 + static_cast<std::uint64_t>(i) * 8;
      const std::uint32_t name = r.U32(e, ok);
      const std::uint32_t off = r.U32(e + 4, ok);
      if (!ok) return false;
      if (want_type && ((name & kSubdirFlag) || name != kRtVersion)) continue;
      target = off;
      return true;
    }
    return false;
  };
  std::uint32_t entry = 0;
  std::uint64_t dir = root;
  for (int level = 0; level < 3; ++level) {
    if (!pick(dir, level == 0, entry)) return std::nullopt;
    const bool subdir = (entry & kSubdirFlag) != 0;
    if (level < 2 && !subdir) return std::nullopt;
    if (level == 2 && subdir) return std::nullopt;
    dir = root + (entry & ~kSubdirFlag);
  }
  // `dir` is now the data entry: RVA, size, code page, reserved.
  const std::uint32_t data_rva = r.U32(dir, ok);
  const std::uint32_t size = r.U32(dir + 4, ok);
  std::uint64_t data;
  if (!ok || !to_offset(data_rva, data) || !r.Has(data, size)) return std::nullopt;
  return std::string(r.Slice(data, size));
}

}  // namespace kv::platform
