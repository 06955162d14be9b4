#include "inventory/binary_element.h"

#include "inventory/shortcuts_tree.h"
#include "inventory/version.h"

namespace kv::inventory {
namespace {

constexpr std::string_view kIndent = "   ";
constexpr std::string_view kChildIndent = "    ";

}  // namespace

void WriteBinary(const ShortcutNode& shortcut, store::XmlWriter& out) {
  if (!shortcut.Binary) return;
  const FileVersionInfo& v = *shortcut.Binary;
  ProgramVersion version;
  if (!ParseVersion(v.ProductVersion, version)) version = v.FixedProductVersion;
  const std::string& path = shortcut.LinksTo.Path;
  const std::size_t slash = path.rfind('\\');
  const std::string_view file_name =
      slash == std::string::npos ? std::string_view() : std::string_view(path).substr(slash + 1);

  out.Open(kIndent, "Binary");
  out.Text(kChildIndent, "ProductName", v.ProductName);
  out.Text(kChildIndent, "ProductVersion", FormatVersion(version));
  out.Text(kChildIndent, "FileDescription", v.FileDescription);
  out.Text(kChildIndent, "InternalName", v.InternalName);
  out.Text(kChildIndent, "LegalCopyright", v.LegalCopyright);
  out.Text(kChildIndent, "OriginalFilename", v.OriginalFilename);
  out.Text(kChildIndent, "CompanyName", v.CompanyName);
  out.Text(kChildIndent, "FileName", file_name);
  out.UInt64(kChildIndent, "FileSize", shortcut.FileSize);
  out.Close(kIndent, "Binary");
}

void ReadBinary(const store::XmlElement& binary, FileVersionInfo& info) {
  info.Clear();
  store::ReadFields(binary, {
                                  {"ProductName", &info.ProductName},
                                  {"ProductVersion", &info.ProductVersion},
                                  {"FileDescription", &info.FileDescription},
                                  {"InternalName", &info.InternalName},
                                  {"LegalCopyright", &info.LegalCopyright},
                                  {"OriginalFilename", &info.OriginalFilename},
                                  {"CompanyName", &info.CompanyName},
                              });
}

}  // namespace kv::inventory
