#include "store/xml_writer.h"

#include <charconv>

#include "store/xml_text.h"

namespace kv::store {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

template <typename T>
std::string_view Decimal(char (&buf)[24], T value) {
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return {buf, static_cast<std::size_t>(r.ptr - buf)};
}

}  // namespace

XmlWriter::XmlWriter() {
  out_.reserve(kXmlWriterReserve);
  out_ += kXmlHeader;
}

std::string XmlWriter::ChildIndent(std::string_view indent) {
  std::string out(indent);
  out += ' ';
  return out;
}

void XmlWriter::StartTag(std::string_view indent, std::string_view tag,
                         std::span<const XmlAttribute> attributes) {
  out_ += indent;
  out_ += '<';
  out_ += tag;
  for (const XmlAttribute& a : attributes) {
    out_ += ' ';
    out_ += a.name;
    out_ += "=\"";
    AppendXmlText(out_, a.value);
    out_ += '"';
  }
  out_ += '>';
}

void XmlWriter::Open(std::string_view indent, std::string_view tag) {
  Open(indent, tag, std::span<const XmlAttribute>());
}

void XmlWriter::Open(std::string_view indent, std::string_view tag,
                     std::span<const XmlAttribute> attributes) {
  StartTag(indent, tag, attributes);
  out_ += kLineEnd;
}

void XmlWriter::Close(std::string_view indent, std::string_view tag) {
  out_ += indent;
  out_ += "</";
  out_ += tag;
  out_ += '>';
  out_ += kLineEnd;
}

void XmlWriter::Leaf(std::string_view indent, std::string_view tag, std::string_view encoded) {
  StartTag(indent, tag, std::span<const XmlAttribute>());
  out_ += encoded;
  Close("", tag);
}

void XmlWriter::Text(std::string_view indent, std::string_view tag, std::string_view value) {
  Text(indent, tag, value, std::span<const XmlAttribute>());
}

void XmlWriter::Text(std::string_view indent, std::string_view tag, std::string_view value,
                     std::span<const XmlAttribute> attributes) {
  StartTag(indent, tag, attributes);
  AppendXmlText(out_, value);
  Close("", tag);
}

void XmlWriter::Int32(std::string_view indent, std::string_view tag, std::int32_t value) {
  char buf[24];
  Leaf(indent, tag, Decimal(buf, value));
}

void XmlWriter::UInt32(std::string_view indent, std::string_view tag, std::uint32_t value) {
  char buf[24];
  Leaf(indent, tag, Decimal(buf, value));
}

void XmlWriter::Int64(std::string_view indent, std::string_view tag, std::int64_t value) {
  char buf[24];
  Leaf(indent, tag, Decimal(buf, value));
}

void XmlWriter::UInt64(std::string_view indent, std::string_view tag, std::uint64_t value) {
  char buf[24];
  Leaf(indent, tag, Decimal(buf, value));
}

void XmlWriter::Bool(std::string_view indent, std::string_view tag, bool value) {
  Leaf(indent, tag, value ? "true" : "false");
}

}  // namespace kv::store
