#pragma once
// Hand-written XML documents: every store file and every document sent to
// the service is built line by line into one string by this writer.
//
// Layout: the header line, then elements one per line with CR LF line ends.
// Each call takes the element's indentation as a prefix string (one blank per
// nesting level, "" for the root); a routine writing a sub-document passes its
// prefix on and uses ChildIndent() for its own children. Tags and attribute
// names are fixed strings written as given; every text value goes through
// EncodeXmlText. Versions are written with Text() too: escaping leaves a
// clean version text unchanged and keeps any odd suffix from breaking the file.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace kv::store {

inline constexpr std::string_view kXmlHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
inline constexpr std::size_t kXmlWriterReserve = 1024 * 1024;

// One attribute of a start tag; the value is escaped when written.
struct XmlAttribute {
  std::string_view name;
  std::string_view value;
};

class XmlWriter {
 public:
  // Reserves kXmlWriterReserve bytes and writes the header line.
  XmlWriter();

  // The indentation of the children of an element indented by `indent`.
  static std::string ChildIndent(std::string_view indent);

  // Container element: start tag and end tag on lines of their own.
  void Open(std::string_view indent, std::string_view tag);
  void Open(std::string_view indent, std::string_view tag,
            std::span<const XmlAttribute> attributes);
  void Open(std::string_view indent, std::string_view tag,
            std::initializer_list<XmlAttribute> attributes) {
    Open(indent, tag, std::span(attributes.begin(), attributes.size()));
  }
  void Close(std::string_view indent, std::string_view tag);

  // Leaf elements on one line. An empty text gives "<Tag></Tag>", never "<Tag/>".
  void Text(std::string_view indent, std::string_view tag, std::string_view value);
  void Text(std::string_view indent, std::string_view tag, std::string_view value,
            std::span<const XmlAttribute> attributes);
  void Text(std::string_view indent, std::string_view tag, std::string_view value,
            std::initializer_list<XmlAttribute> attributes) {
    Text(indent, tag, value, std::span(attributes.begin(), attributes.size()));
  }
  void Int32(std::string_view indent, std::string_view tag, std::int32_t value);
  void UInt32(std::string_view indent, std::string_view tag, std::uint32_t value);
  void Int64(std::string_view indent, std::string_view tag, std::int64_t value);
  void UInt64(std::string_view indent, std::string_view tag, std::uint64_t value);
  void Bool(std::string_view indent, std::string_view tag, bool value);

  const std::string& str() const { return out_; }
  // Hands the document over; the writer is empty afterwards.
  std::string Take() { return std::move(out_); }

 private:
  void StartTag(std::string_view indent, std::string_view tag,
                std::span<const XmlAttribute> attributes);
  void Leaf(std::string_view indent, std::string_view tag, std::string_view encoded);

  std::string out_;
};

}  // namespace kv::store
