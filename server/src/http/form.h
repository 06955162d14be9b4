#pragma once
// A posted form as the service reads it, and the two parsers that make one
// from a request body. Both are our own: the client sends "+" unescaped and
// means a plus, which common form decoders turn into a blank, and the
// service sets its own limits on what one request may carry.
//
// Failures: a body that does not follow its encoding is Corrupt; a body
// that breaks a limit of RequestLimits is Other. Either way nothing of the
// form is kept.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "protocol/limits.h"

namespace kv::server {

struct FormField {
  std::string name;
  std::string filename;  // not empty: an uploaded file (multipart only)
  std::string content;

  bool operator==(const FormField&) const = default;
};

// The fields in the order they came. Names compare exactly: "id" and "Id"
// are different fields. When a name repeats, look-ups see the first.
class Form {
 public:
  void Add(FormField field) { fields_.push_back(std::move(field)); }

  const std::vector<FormField>& fields() const { return fields_; }
  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }

  // The first field named `name`; nullptr when there is none.
  const FormField* Find(std::string_view name) const;
  bool Has(std::string_view name) const { return Find(name) != nullptr; }
  // Its content, which lives as long as the form; nullopt when absent.
  std::optional<std::string_view> Value(std::string_view name) const;

 private:
  std::vector<FormField> fields_;
};

// "name=value&name=value": split on "&", then at the first "="; "%XX" is
// decoded (either case of hexadecimal digit) in names and values, "+" stays
// a plus. Empty items are skipped; an item without "=" has an empty value.
platform::Result<Form> ParseUrlEncoded(std::string_view body, const RequestLimits& limits);

// A "multipart/form-data" body; `content_type` is the request's header
// value, which names the boundary. Every part needs
// `Content-Disposition: form-data; name="..."` (a `filename` is optional);
// other part headers are ignored. Preamble and epilogue are ignored; a body
// without its closing delimiter is Corrupt.
platform::Result<Form> ParseMultipart(std::string_view content_type, std::string_view body,
                                      const RequestLimits& limits);

}  // namespace kv::server
