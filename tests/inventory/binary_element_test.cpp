#include "inventory/binary_element.h"

#include <gtest/gtest.h>

#include "inventory/shortcuts_tree.h"

namespace kv::inventory {
namespace {

// The element as WriteBinary appends it, without the writer's header.
std::string Written(const ShortcutNode& node) {
  store::XmlWriter out;
  WriteBinary(node, out);
  return out.str().substr(store::kXmlHeader.size());
}

std::unique_ptr<ShortcutNode> Described(FileVersionInfo info,
                                        std::string path = "C:\\Acme\\acme.exe") {
  auto node = std::make_unique<ShortcutNode>();
  node->LinksTo.Path = std::move(path);
  node->FileSize = 4294967296ULL + 7;  // above 32 bits
  node->Binary = std::make_unique<FileVersionInfo>(std::move(info));
  return node;
}

TEST(BinaryElement, ChildrenInOrderWithFixedIndentation) {
  FileVersionInfo v;
  v.ProductName = "Acme";
  v.ProductVersion = "1, 0, 2, 5";
  v.FileDescription = "Acme tool";
  v.InternalName = "acme";
  v.LegalCopyright = "\xC2\xA9 Acme";
  v.OriginalFilename = "acme.exe";
  v.CompanyName = "A&B <C> \"D\" 'E'";
  EXPECT_EQ(Written(*Described(v)),
            "   <Binary>\r\n"
            "    <ProductName>Acme</ProductName>\r\n"
            "    <ProductVersion>1.0.2.5</ProductVersion>\r\n"
            "    <FileDescription>Acme tool</FileDescription>\r\n"
            "    <InternalName>acme</InternalName>\r\n"
            "    <LegalCopyright>\xC2\xA9 Acme</LegalCopyright>\r\n"
            "    <OriginalFilename>acme.exe</OriginalFilename>\r\n"
            "    <CompanyName>A&amp;B &lt;C> &quot;D&quot; 'E'</CompanyName>\r\n"
            "    <FileName>acme.exe</FileName>\r\n"
            "    <FileSize>4294967303</FileSize>\r\n"
            "   </Binary>\r\n");
}

TEST(BinaryElement, VersionFallsBackToTheFixedVersionAndFileNameNeedsABackslash) {
  FileVersionInfo v;
  v.ProductVersion = "beta";
  ParseVersion("3.1.4", v.FixedProductVersion);
  const std::string text = Written(*Described(v, "acme.exe"));
  EXPECT_NE(text.find("    <ProductVersion>3.1.4</ProductVersion>\r\n"), std::string::npos);
  EXPECT_NE(text.find("    <FileName></FileName>\r\n"), std::string::npos);
  // Only a backslash separates: "/" is part of the name here.
  EXPECT_NE(Written(*Described(v, "C:\\a/b.exe")).find("<FileName>a/b.exe</FileName>"),
            std::string::npos);
}

TEST(BinaryElement, NothingWithoutVersionInformation) {
  ShortcutNode node;
  node.LinksTo.Path = "C:\\Acme\\acme.exe";
  EXPECT_EQ(Written(node), "");
}

}  // namespace
}  // namespace kv::inventory
