#include "inventory/file_version_info.h"

#include <mutex>
#include <vector>

#include "inventory/version_resource.h"
#include "text/format.h"

namespace kv::inventory {
namespace {

std::uint32_t U16At(std::string_view b, std::size_t off) {
  return static_cast<unsigned char>(b[off]) | (static_cast<unsigned char>(b[off + 1]) << 8);
}

std::uint32_t U32At(std::string_view b, std::size_t off) {
  return U16At(b, off) | (U16At(b, off + 2) << 16);
}

constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;

// "1, 0, 2, 5" -> "1.0.2.5": commas become dots, blanks after a dot go.
std::string NormaliseProductVersion(const std::string& s) {
  std::string out;
  bool after_dot = false;
  for (char c : s) {
    if (c == ',') c = '.';
    if (after_dot && c == ' ') continue;
    after_dot = c == '.';
    out += c;
  }
  return out;
}

}  // namespace

bool FileVersionInfo::Read(platform::Shell& shell, std::string_view path) {
  Clear();
  auto block = shell.ReadVersionResource(path);
  if (!block || block->empty()) return false;
  return ReadBlock(*block);
}

bool FileVersionInfo::ReadBlock(std::string_view block) {
  Clear();
  bool fixed = false;
  if (auto root = QueryVersionValue(block, "\\"); root && root->size() >= 52 &&
                                                  U32At(*root, 0) == kFixedSignature) {
    const std::uint32_t ms = U32At(*root, 16), ls = U32At(*root, 20);
    for (std::uint32_t part : {ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF})
      FixedProductVersion.components.push_back({static_cast<std::int32_t>(part), 0});
    auto& c = FixedProductVersion.components;
    while (c.size() >= 3 && c.back().value == 0) c.pop_back();
    fixed = true;
  }

  // Which string table: the translation table's English entry (else its
  // first), or the key found by searching the raw block.
  std::optional<std::string> raw_key;
  std::uint32_t language = 0, code_page = 0;
  bool translated = false;
  if (auto table = QueryVersionValue(block, "\\VarFileInfo\\Translation"); table && table->size() >= 4) {
    const std::size_t entries = table->size() / 4;
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < entries; ++i)
      if ((U16At(*table, i * 4) & 0x3FF) == 9) {
        chosen = i;
        break;
      }
    language = U16At(*table, chosen * 4);
    code_page = U16At(*table, chosen * 4 + 2);
    translated = true;
  } else {
    raw_key = FindStringTableKey(block, RootValueEnd(block));
  }
  if (!translated && !raw_key) return fixed;

  struct Field {
    const char* key;
    std::string FileVersionInfo::*member;
  };
  static const Field kFields[] = {
      {"ProductVersion", &FileVersionInfo::ProductVersion},
      {"ProductName", &FileVersionInfo::ProductName},
      {"FileDescription", &FileVersionInfo::FileDescription},
      {"CompanyName", &FileVersionInfo::CompanyName},
      {"FileVersion", &FileVersionInfo::FileVersion},
      {"InternalName", &FileVersionInfo::InternalName},
      {"LegalCopyright", &FileVersionInfo::LegalCopyright},
      {"OriginalFilename", &FileVersionInfo::OriginalFilename},
      {"SpecialBuild", &FileVersionInfo::SpecialBuild},
  };
  for (const Field& f : kFields) {
    std::optional<std::string> value;
    if (raw_key) {
      value = QueryVersionString(block, text::Format("\\StringFileInfo\\%s\\%s", raw_key->c_str(), f.key));
    } else {
      value = QueryVersionString(block, text::Format("\\StringFileInfo\\%04x%04x\\%s", language,
                                                     code_page, f.key));
      // Tables that claim language 0 usually store their strings as US English.
      if (!value && language == 0) {
        language = 1033;
        value = QueryVersionString(block, text::Format("\\StringFileInfo\\%04x%04x\\%s", language,
                                                       code_page, f.key));
      }
    }
    if (value) this->*f.member = *value;
  }

  if (ProductVersion.empty())
    ProductVersion = FormatVersion(FixedProductVersion);
  else
    ProductVersion = NormaliseProductVersion(ProductVersion);
  return true;
}

const FileVersionInfo& OwnFileVersionInfo(platform::Shell& shell) {
  static std::once_flag once;
  static FileVersionInfo* info = nullptr;
  std::call_once(once, [&] { info = new FileVersionInfo(shell, shell.ExecutablePath()); });
  return *info;
}

}  // namespace kv::inventory
