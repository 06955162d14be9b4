#include "store/xml_store.h"

#include <pugixml.hpp>

#include "app/activity_log.h"
#include "app/log_messages.h"
#include "store/xml_text.h"
#include "text/compare.h"

namespace kv::store {

using platform::ErrorKind;
using platform::Status;

namespace {

// Defaults (escapes, CDATA, no comments or PIs) plus the whitespace-only text
// of a leaf; without end-of-line and attribute whitespace normalisation, so
// values read back exactly as the writer wrote them.
constexpr unsigned kParseOptions =
    (pugi::parse_default | pugi::parse_ws_pcdata_single) & ~pugi::parse_eol &
    ~pugi::parse_wconv_attribute;

pugi::xml_node Node(pugi::xml_node_struct* n) { return pugi::xml_node(n); }

pugi::xml_node_struct* NextElement(pugi::xml_node n) {
  while (n && n.type() != pugi::node_element) n = n.next_sibling();
  return n.internal_object();
}

// The element at `path`, or null ("." and ".." could name a non-element).
pugi::xml_node_struct* ElementAt(pugi::xml_node from, std::string_view path) {
  const std::string p(path);
  const pugi::xml_node found = from.first_element_by_path(p.c_str(), '/');
  return found.type() == pugi::node_element ? found.internal_object() : nullptr;
}

}  // namespace

// XmlElement

std::string_view XmlElement::Name() const { return Node(node_).name(); }

bool XmlElement::NameIs(std::string_view field) const { return text::EqualsNoCase(Name(), field); }

std::optional<XmlElement> XmlElement::Find(std::string_view path) const {
  if (pugi::xml_node_struct* n = ElementAt(Node(node_), path)) return XmlElement(n);
  return std::nullopt;
}

XmlChildren XmlElement::Children() const {
  return XmlChildren(NextElement(Node(node_).first_child()));
}

std::string XmlElement::Text() const {
  // Iterative walk: a deeply nested hostile file must not exhaust the stack.
  const pugi::xml_node self = Node(node_);
  std::string out;
  for (pugi::xml_node n = self.first_child(); n;) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) out += n.value();
    if (pugi::xml_node child = n.first_child()) {
      n = child;
      continue;
    }
    while (n != self && !n.next_sibling()) n = n.parent();
    if (n == self) break;
    n = n.next_sibling();
  }
  return ToValidUtf8(out);
}

std::int32_t XmlElement::Int32() const { return XmlTextToInt32(Text()); }
std::uint32_t XmlElement::UInt32() const { return XmlTextToUInt32(Text()); }
std::int64_t XmlElement::Int64() const { return XmlTextToInt64(Text()); }
std::uint64_t XmlElement::UInt64() const { return XmlTextToUInt64(Text()); }
bool XmlElement::Bool() const { return XmlTextToBool(Text()); }

bool XmlElement::HasAttributes() const { return bool(Node(node_).first_attribute()); }

std::optional<std::string> XmlElement::Attribute(std::string_view name) const {
  for (pugi::xml_attribute a : Node(node_).attributes())
    if (name == a.name()) return ToValidUtf8(a.value());
  return std::nullopt;
}

std::optional<std::string> XmlElement::AttributeNoCase(std::string_view name) const {
  for (pugi::xml_attribute a : Node(node_).attributes())
    if (text::EqualsNoCase(name, a.name())) return ToValidUtf8(a.value());
  return std::nullopt;
}

XmlChildren::iterator& XmlChildren::iterator::operator++() {
  node_ = NextElement(Node(node_).next_sibling());
  return *this;
}

// XmlDocument

XmlDocument::XmlDocument() : doc_(std::make_unique<pugi::xml_document>()) {}
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

std::optional<XmlDocument> XmlDocument::Parse(std::string_view bytes) {
  XmlDocument d;
  const pugi::xml_parse_result r =
      d.doc_->load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
  if (!r) return std::nullopt;
  return d;
}

std::optional<XmlElement> XmlDocument::Find(std::string_view path) const {
  if (pugi::xml_node_struct* n = ElementAt(*doc_, path)) return XmlElement(n);
  return std::nullopt;
}

XmlElement XmlDocument::Root() const {
  return XmlElement(doc_->document_element().internal_object());
}

// Files

platform::Status SaveStore(app::DataFolder& folder, std::string_view file_name,
                           const std::function<void(XmlWriter&)>& build) {
  XmlWriter writer;
  build(writer);
  return SaveStoreText(folder, file_name, writer.str());
}

platform::Status SaveStoreText(app::DataFolder& folder, std::string_view file_name,
                               std::string_view document) {
  platform::FileSystem& files = folder.machine().files;
  const std::string store = folder.GetDataFilePath(file_name);
  const std::string temp =
      folder.GetDataFilePath(std::string(file_name) + std::string(kBackupSuffix));
  if (folder.IsHeld(file_name))
    return Status::Error(ErrorKind::Other, "not replaced: could not be read in this run: " + store);

  // Finish an interrupted save first: its ".bak" may be the only copy of the
  // newest document, and creating the new ".bak" would truncate it.
  if (!files.Exists(store) && files.Exists(temp))
    if (Status moved = files.Move(temp, store, false); !moved) return moved;

  platform::Result<std::unique_ptr<platform::WritableFile>> file =
      files.OpenWrite(temp, platform::OpenMode::CreateAlways);
  if (!file) return file.status();
  const Status written = file->Write(document);
  const Status closed = file->Close();
  if (!written || !closed) {
    // Keep the store file: it still holds the last complete document.
    files.Delete(temp).IgnoreError();
    return written ? closed : written;
  }
  files.Delete(store).IgnoreError();  // missing on the first save; Move reports the rest
  return files.Move(temp, store, false);
}

namespace {

void Report(app::DataFolder& folder, const char* format, const std::string& a,
            const std::string& b) {
  if (app::ActivityLog* log = folder.log()) log->Write(format, a.c_str(), b.c_str());
}

// Reads `path`. A file that does not parse is renamed aside (NotFound then,
// so the caller goes on as if it were missing); one that cannot be read, or
// not renamed, holds the store.
platform::Result<XmlDocument> LoadDataFile(app::DataFolder& folder, std::string_view file_name,
                                           const std::string& path) {
  platform::FileSystem& files = folder.machine().files;
  // Only bytes that were read and do not parse make a broken file; a read
  // error (even one the disk calls corrupt) holds the file instead.
  platform::Result<std::string> bytes = files.ReadAll(path);
  if (!bytes) {
    if (bytes.status().Is(ErrorKind::NotFound)) return bytes.status();
    folder.HoldFile(file_name);
    Report(folder, msg::kDataFileNotRead, path, bytes.status().ToString());
    return bytes.status();
  }
  if (std::optional<XmlDocument> doc = XmlDocument::Parse(*bytes)) return std::move(*doc);
  const std::string aside = path + std::string(kBrokenSuffix);
  if (Status moved = files.Move(path, aside, /*replace=*/true); moved) {
    Report(folder, msg::kDataFileBroken, path, aside);
    return Status::Error(ErrorKind::NotFound, path);
  }
  const Status broken = Status::Error(ErrorKind::Corrupt, "not an XML document: " + path);
  folder.HoldFile(file_name);
  Report(folder, msg::kDataFileNotRead, path, broken.ToString());
  return broken;
}

}  // namespace

platform::Result<XmlDocument> LoadStore(app::DataFolder& folder, std::string_view file_name) {
  // The path first: it creates the folder chain on a first run. "Not found"
  // then means something only when the folder is there: a data folder on a
  // share that cannot be reached now must not pass for an empty one.
  const std::string path = folder.GetDataFilePath(file_name);
  const std::string& data = folder.GetDataFolder();
  if (!folder.machine().files.IsDirectory(data)) {
    const Status unreachable =
        Status::Error(ErrorKind::Network, "data folder not reachable: " + data);
    folder.HoldFile(file_name);
    Report(folder, msg::kDataFileNotRead, path, unreachable.ToString());
    return unreachable;
  }
  platform::Result<XmlDocument> doc = LoadDataFile(folder, file_name, path);
  if (!doc && doc.status().Is(ErrorKind::NotFound))
    doc = LoadDataFile(folder, file_name,
                       folder.GetDataFilePath(std::string(file_name) + std::string(kBackupSuffix)));
  if (doc || doc.status().Is(ErrorKind::NotFound)) folder.ReleaseFile(file_name);
  return doc;
}

platform::Result<XmlDocument> LoadXmlFile(platform::FileSystem& files, std::string_view path) {
  platform::Result<std::string> bytes = files.ReadAll(path);
  if (!bytes) return bytes.status();
  auto doc = XmlDocument::Parse(*bytes);
  if (!doc) return Status::Error(ErrorKind::Corrupt, "not an XML document: " + std::string(path));
  return std::move(*doc);
}

void ReadFields(const XmlElement& container, std::span<const XmlField> fields) {
  for (XmlElement child : container.Children()) {
    for (const XmlField& field : fields) {
      if (!child.NameIs(field.name)) continue;
      std::visit(
          [&](const auto& target) {
            using T = std::decay_t<decltype(target)>;
            if constexpr (std::is_same_v<T, std::string*>) *target = child.Text();
            else if constexpr (std::is_same_v<T, std::int32_t*>) *target = child.Int32();
            else if constexpr (std::is_same_v<T, std::uint32_t*>) *target = child.UInt32();
            else if constexpr (std::is_same_v<T, std::int64_t*>) *target = child.Int64();
            else if constexpr (std::is_same_v<T, std::uint64_t*>) *target = child.UInt64();
            else if constexpr (std::is_same_v<T, bool*>) *target = child.Bool();
            else target(child);
          },
          field.target);
      break;
    }
  }
}

}  // namespace kv::store
