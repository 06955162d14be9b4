#include "inventory/shortcuts_tree_cache.h"

#include <algorithm>
#include <charconv>

#include "inventory/binary_element.h"
#include "store/xml_store.h"
#include "store/xml_text.h"
#include "store/xml_writer.h"

namespace kv::inventory {
namespace {

// Deeper folders in a cache file are not read: a real Start menu is limited
// by the path length long before, and the loader must not exhaust the stack.
constexpr int kMaxLoadDepth = 256;

std::string Decimal(std::uint64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

bool WritesShortcut(const ShortcutNode& node) {
  if (!node.IsFolder) return true;
  return std::any_of(node.children.begin(), node.children.end(),
                     [](const auto& child) { return WritesShortcut(*child); });
}

void WriteNode(store::XmlWriter& out, const ShortcutNode& node, const std::string& indent) {
  if (node.IsFolder) {
    if (!WritesShortcut(node)) return;
    std::vector<std::string> names, values;
    for (std::size_t k = 0; k < node.LastWriteTimes.size(); ++k) {
      names.push_back(k == 0 ? "LastWriteTime" : "LastWriteTime" + std::to_string(k));
      values.push_back(Decimal(node.LastWriteTimes[k]));
    }
    std::vector<store::XmlAttribute> attributes = {{"Name", node.Name}};
    for (std::size_t k = 0; k < names.size(); ++k) attributes.push_back({names[k], values[k]});
    out.Open(indent, "Folder", attributes);
    const std::string child_indent = store::XmlWriter::ChildIndent(indent);
    for (const auto& child : node.children) WriteNode(out, *child, child_indent);
    out.Close(indent, "Folder");
    return;
  }
  // The writer has no self-closing form; its tag text is written as given,
  // so the start tag is built here and the writer adds "<", ">" and CR LF.
  std::string tag = "Shortcut Name=\"";
  store::AppendXmlText(tag, node.Name);
  tag += "\" LinksTo=\"";
  store::AppendXmlText(tag, node.LinksTo.FormatForSplit());
  tag += "\" FileSize=\"";
  tag += Decimal(node.FileSize);
  tag += "\" LastWriteTime=\"";
  tag += Decimal(node.LastWriteTimes.empty() ? 0 : node.LastWriteTimes.front());
  // The target's own time; older readers pass over it, and a file without it
  // makes the next scan read the target once more.
  if (node.TargetWriteTime != 0) {
    tag += "\" TargetWriteTime=\"";
    tag += Decimal(node.TargetWriteTime);
  }
  if (node.Uninstaller) tag += "\" Uninstaller=\"true";
  tag += '"';
  if (!node.Binary) {
    tag += " /";
    out.Open(indent, tag);
    return;
  }
  out.Open(indent, tag);
  WriteBinary(node, out);
  out.Close(indent, "Shortcut");
}

void LoadLevel(platform::Machine& machine, const store::XmlElement& element, ShortcutNode& node,
               int depth) {
  for (store::XmlElement e : element.Children()) {
    // An element without a name ends its level.
    if (!e.HasAttributes()) return;
    std::optional<std::string> name = e.Attribute("Name");
    if (!name) return;
    auto child = std::make_unique<ShortcutNode>();
    child->Name = std::move(*name);
    child->Unseen = true;
    if (e.NameIs("Folder")) {
      child->IsFolder = true;
      for (int k = 0; k < 100; ++k) {
        std::optional<std::string> time = e.Attribute(k == 0 ? std::string("LastWriteTime")
                                                             : "LastWriteTime" + std::to_string(k));
        if (!time) break;
        child->LastWriteTimes.push_back(store::XmlTextToUInt64(*time));
      }
      if (depth + 1 < kMaxLoadDepth) LoadLevel(machine, e, *child, depth + 1);
      node.Append(std::move(child));
      continue;
    }
    // A shortcut written without its target, size or time is not taken: the
    // next scan finds its file as new and resolves it again.
    std::optional<std::string> links_to = e.Attribute("LinksTo");
    std::optional<std::string> size = e.Attribute("FileSize");
    std::optional<std::string> time = e.Attribute("LastWriteTime");
    if (!links_to || !size || !time) continue;
    child->LinksTo.Split(machine, *links_to, false);
    child->FileSize = store::XmlTextToUInt64(*size);
    child->LastWriteTimes.push_back(store::XmlTextToUInt64(*time));
    if (std::optional<std::string> target_time = e.Attribute("TargetWriteTime"))
      child->TargetWriteTime = store::XmlTextToUInt64(*target_time);
    if (std::optional<std::string> flag = e.Attribute("Uninstaller"))
      child->Uninstaller = store::XmlTextToBool(*flag);
    if (std::optional<store::XmlElement> binary = e.Find("Binary")) {
      child->Binary = std::make_unique<FileVersionInfo>();
      ReadBinary(*binary, *child->Binary);
      child->BinaryFromCache = true;
    }
    node.Append(std::move(child));
  }
}

}  // namespace

platform::Status SaveShortcutsTreeCache(app::DataFolder& folder, const ShortcutNode& root) {
  return store::SaveStore(folder, kShortcutsTreeFile, [&root](store::XmlWriter& out) {
    out.Open("", "ShortcutsTree");
    const std::string indent = " ";
    for (const auto& child : root.children) WriteNode(out, *child, indent);
    out.Close("", "ShortcutsTree");
  });
}

void LoadShortcutsTreeCache(app::DataFolder& folder, platform::Machine& machine,
                            ShortcutNode& root) {
  platform::Result<store::XmlDocument> doc = store::LoadStore(folder, kShortcutsTreeFile);
  if (!doc) return;
  std::optional<store::XmlElement> top = doc->Find("ShortcutsTree");
  if (!top) return;
  LoadLevel(machine, *top, root, 0);
}

}  // namespace kv::inventory
