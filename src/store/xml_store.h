#pragma once
// The XML store files in the data folder: saving through the ".bak" file and
// loading with the fallback to it, and reading fields out of a parsed
// document by the conventions that every store shares.
//
// Saving: the new document is written completely into "<name>.bak" and
// closed; only then is the store file deleted and the ".bak" renamed to it.
// A failed write or close removes the partial ".bak" and leaves the store
// file as it was, so a load always finds the complete old or the complete new
// document. A ".bak" found without its store file is the newest document of an
// interrupted save and is renamed into place before the next save starts.
//
// Loading: the store file, or its ".bak" when the store file is missing,
// parsed with pugixml. A file that does not parse is renamed aside to
// "<file>.broken" (the newest broken copy kept) and the ".bak" is tried in
// its place; a file that exists but cannot be read now (in use, a read
// error) is held: no save replaces it until a later load reads it. Entities and
// character references are resolved; line ends and attribute whitespace are
// kept as written (a value keeps its CR LF and tabs); the whitespace of a leaf
// element is its value (" " reads back as " "), while whitespace between the
// children of a container is dropped. Every text read is valid UTF-8.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "app/data_folder.h"
#include "store/xml_writer.h"

namespace pugi {
class xml_document;
struct xml_node_struct;
}  // namespace pugi

namespace kv::store {

inline constexpr std::string_view kBackupSuffix = ".bak";
inline constexpr std::string_view kBrokenSuffix = ".broken";

class XmlChildren;

// An element of a parsed document; valid while its XmlDocument lives.
class XmlElement {
 public:
  std::string_view Name() const;
  // The element's name equals `field` without regard to case.
  bool NameIs(std::string_view field) const;

  // The first element at `path` below this one ("SoftwareList", "Account/Ids"),
  // names compared exactly.
  std::optional<XmlElement> Find(std::string_view path) const;
  // The child elements in document order.
  XmlChildren Children() const;

  // All text below the element (text and CDATA of every descendant, in order).
  std::string Text() const;
  std::int32_t Int32() const;
  std::uint32_t UInt32() const;
  std::int64_t Int64() const;
  std::uint64_t UInt64() const;
  bool Bool() const;

  bool HasAttributes() const;
  std::optional<std::string> Attribute(std::string_view name) const;  // exact name
  std::optional<std::string> AttributeNoCase(std::string_view name) const;

 private:
  friend class XmlDocument;
  friend class XmlChildren;
  explicit XmlElement(pugi::xml_node_struct* node) : node_(node) {}
  pugi::xml_node_struct* node_;
};

// Range over the child elements of one element (text and comments skipped).
class XmlChildren {
 public:
  class iterator {
   public:
    using value_type = XmlElement;
    using difference_type = std::ptrdiff_t;
    XmlElement operator*() const { return XmlElement(node_); }
    iterator& operator++();
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator&) const = default;

   private:
    friend class XmlChildren;
    pugi::xml_node_struct* node_ = nullptr;
  };
  iterator begin() const { return first_; }
  iterator end() const { return {}; }

 private:
  friend class XmlElement;
  explicit XmlChildren(pugi::xml_node_struct* first) { first_.node_ = first; }
  iterator first_;
};

class XmlDocument {
 public:
  // Parses a whole file's bytes; nullopt when the parser rejects them (also
  // when there is no element at all, as in an empty or truncated file).
  static std::optional<XmlDocument> Parse(std::string_view bytes);

  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;
  ~XmlDocument();

  // The first element at `path` from the document ("KV/SoftwareList"); exact names.
  std::optional<XmlElement> Find(std::string_view path) const;
  // The document element.
  XmlElement Root() const;

 private:
  XmlDocument();
  // Held by pointer so that elements stay valid when the document moves.
  std::unique_ptr<pugi::xml_document> doc_;
};

// Saves the store `file_name` in the data folder through the ".bak" sequence,
// with the document that `build` writes after the header. Success when the
// store file holds the new document; on failure the previous document is
// still what a load finds. A held file (see above) is not touched. Stores
// ignore the result (saves are silent); it is there for tests and kvdiag.
platform::Status SaveStore(app::DataFolder& folder, std::string_view file_name,
                           const std::function<void(XmlWriter&)>& build);
// The same with the whole document already written (header included).
platform::Status SaveStoreText(app::DataFolder& folder, std::string_view file_name,
                               std::string_view document);

// Loads the store `file_name` from the data folder by the rules above. On
// failure the store keeps its defaults; the status says why: NotFound when
// there is no file, Corrupt when nothing parsed, otherwise the read failure.
// Broken and unreadable files are reported to the data folder's log.
platform::Result<XmlDocument> LoadStore(app::DataFolder& folder, std::string_view file_name);

// Reads and parses one file at `path` (documents without the ".bak" rule);
// Corrupt when the bytes do not parse.
platform::Result<XmlDocument> LoadXmlFile(platform::FileSystem& files, std::string_view path);

// Where ReadFields stores a field's value; a function takes fields that need
// their own parsing (versions, nested containers).
using XmlFieldTarget =
    std::variant<std::string*, std::int32_t*, std::uint32_t*, std::int64_t*, std::uint64_t*,
                 bool*, std::function<void(const XmlElement&)>>;

struct XmlField {
  std::string_view name;
  XmlFieldTarget target;
};

// Walks the children of `container` in document order and stores each child
// whose name equals a field's name without regard to case into that field (a
// repeated element: the last one wins). Other children are skipped; fields
// without an element keep their values.
void ReadFields(const XmlElement& container, std::span<const XmlField> fields);
inline void ReadFields(const XmlElement& container, std::initializer_list<XmlField> fields) {
  ReadFields(container, std::span(fields.begin(), fields.size()));
}

}  // namespace kv::store
