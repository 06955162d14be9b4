#include "http/form.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv::server {
namespace {

using platform::ErrorKind;
using platform::Result;
using platform::Status;

Status Corrupt(std::string message) { return Status::Error(ErrorKind::Corrupt, std::move(message)); }
Status OverLimit(std::string message) { return Status::Error(ErrorKind::Other, std::move(message)); }

Status TooManyFields(const RequestLimits& limits) {
  return OverLimit("more than " + std::to_string(limits.max_fields) + " form fields");
}
Status FieldTooLong(const RequestLimits& limits) {
  return OverLimit("a form field longer than " + std::to_string(limits.max_field) + " bytes");
}
Status BodyTooLong(const RequestLimits& limits) {
  return OverLimit("a form body longer than " + std::to_string(limits.max_body) + " bytes");
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends `text` with "%XX" decoded; "+" is a plus. False at a "%" without
// two hexadecimal digits after it.
bool Unescape(std::string_view text, std::string& out) {
  out.reserve(out.size() + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (text.size() - i < 3) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// A header value of the form `token; name=value; name="value"`: the leading
// token and the parameters. A quoted value runs to the next double quote,
// with no backslash escapes: browsers and our client write form-data names
// that way (a Windows path keeps its backslashes).
struct HeaderValue {
  std::string_view token;
  std::vector<std::pair<std::string_view, std::string_view>> params;

  // The first parameter of that name, any case; nullopt when absent.
  std::optional<std::string_view> Param(std::string_view name) const {
    for (const auto& [key, value] : params)
      if (SameNoCase(key, name)) return value;
    return std::nullopt;
  }
};

std::optional<HeaderValue> ParseHeaderValue(std::string_view text) {
  HeaderValue out;
  std::size_t i = 0;
  const auto skip_blanks = [&] {
    while (i < text.size() && IsBlank(text[i])) ++i;
  };
  const auto token_end = [&](std::string_view stops) {
    const std::size_t start = i;
    while (i < text.size() && !IsBlank(text[i]) && stops.find(text[i]) == std::string_view::npos) ++i;
    return text.substr(start, i - start);
  };
  skip_blanks();
  out.token = token_end(";");
  for (;;) {
    skip_blanks();
    if (i == text.size()) return out;
    if (text[i] != ';') return std::nullopt;
    ++i;
    skip_blanks();
    if (i == text.size()) return out;  // a trailing ";"
    const std::string_view name = token_end(";=");
    skip_blanks();
    if (name.empty() || i == text.size() || text[i] != '=') return std::nullopt;
    ++i;
    skip_blanks();
    std::string_view value;
    if (i < text.size() && text[i] == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      value = text.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      value = token_end(";");
    }
    out.params.emplace_back(name, value);
  }
}

constexpr std::size_t kMaxBoundary = 70;  // the longest boundary MIME allows

// A delimiter line: CR LF, "--", the boundary, then "--" for the last one
// or blanks and CR LF before the next part.
struct Delimiter {
  std::size_t at = std::string_view::npos;  // where its CR LF is
  bool close = false;
  std::size_t next = 0;  // the first byte after it

  bool found() const { return at != std::string_view::npos; }
};

// The delimiter whose boundary ends at `end`, if what follows makes it one.
Delimiter DelimiterAt(std::string_view body, std::size_t at, std::size_t end) {
  if (body.substr(end, 2) == "--") return {at, true, end + 2};
  while (end < body.size() && IsBlank(body[end])) ++end;
  if (body.substr(end, 2) == "\r\n") return {at, false, end + 2};
  return {};
}

// The first delimiter from `from`. A boundary followed by other bytes is
// data: the client's boundary never changes, and a file may hold it.
Delimiter FindDelimiter(std::string_view body, std::string_view delimiter, std::size_t from) {
  for (std::size_t at = body.find(delimiter, from); at != std::string_view::npos;
       at = body.find(delimiter, at + 1)) {
    if (const Delimiter d = DelimiterAt(body, at, at + delimiter.size()); d.found()) return d;
  }
  return {};
}

}  // namespace

const FormField* Form::Find(std::string_view name) const {
  for (const FormField& field : fields_)
    if (field.name == name) return &field;
  return nullptr;
}

std::optional<std::string_view> Form::Value(std::string_view name) const {
  const FormField* field = Find(name);
  if (field == nullptr) return std::nullopt;
  return std::string_view(field->content);
}

Result<Form> ParseUrlEncoded(std::string_view body, const RequestLimits& limits) {
  if (body.size() > limits.max_body) return BodyTooLong(limits);
  Form form;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view item = body.substr(start, end - start);
    const std::size_t item_at = start;
    start = end + 1;
    if (item.empty()) continue;
    if (form.size() == limits.max_fields) return TooManyFields(limits);

    const std::size_t eq = item.find('=');
    FormField field;
    if (!Unescape(item.substr(0, eq), field.name) ||
        (eq != std::string_view::npos && !Unescape(item.substr(eq + 1), field.content))) {
      return Corrupt("a \"%\" without two hexadecimal digits in the form field at byte " +
                     std::to_string(item_at));
    }
    if (field.name.size() > limits.max_field || field.content.size() > limits.max_field) {
      return FieldTooLong(limits);
    }
    form.Add(std::move(field));
  }
  return form;
}

Result<Form> ParseMultipart(std::string_view content_type, std::string_view body,
                            const RequestLimits& limits) {
  if (body.size() > limits.max_body) return BodyTooLong(limits);
  const std::optional<HeaderValue> type = ParseHeaderValue(content_type);
  if (!type || !SameNoCase(type->token, "multipart/form-data")) {
    return Corrupt("not a multipart/form-data content type");
  }
  const std::optional<std::string_view> boundary = type->Param("boundary");
  if (!boundary || boundary->empty() || boundary->size() > kMaxBoundary ||
      boundary->find_first_of("\r\n") != std::string_view::npos) {
    return Corrupt("no usable boundary in the multipart content type");
  }
  const std::string delimiter = "\r\n--" + std::string(*boundary);

  // The first delimiter opens the body or ends a preamble.
  const std::string_view dash_boundary = std::string_view(delimiter).substr(2);
  Delimiter next;
  if (body.substr(0, dash_boundary.size()) == dash_boundary) next = DelimiterAt(body, 0, dash_boundary.size());
  if (!next.found()) next = FindDelimiter(body, delimiter, 0);
  if (!next.found()) return Corrupt("no multipart delimiter in the body");

  Form form;
  for (;;) {
    if (next.close) return form;  // the epilogue is ignored
    std::size_t pos = next.next;

    FormField field;
    bool named = false;
    for (;;) {
      const std::size_t end = body.find("\r\n", pos);
      if (end == std::string_view::npos) return Corrupt("multipart part headers do not end");
      const std::string_view line = body.substr(pos, end - pos);
      pos = end + 2;
      if (line.empty()) break;
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos || TrimBlanks(line.substr(0, colon)).empty()) {
        return Corrupt("a malformed multipart part header");
      }
      if (named || !SameNoCase(TrimBlanks(line.substr(0, colon)), "Content-Disposition")) continue;
      const std::optional<HeaderValue> disposition = ParseHeaderValue(line.substr(colon + 1));
      if (!disposition || !SameNoCase(disposition->token, "form-data")) {
        return Corrupt("a multipart part that is not form-data");
      }
      const std::optional<std::string_view> name = disposition->Param("name");
      if (!name) return Corrupt("a multipart part without a name");
      field.name.assign(*name);
      field.filename.assign(disposition->Param("filename").value_or(std::string_view()));
      named = true;
    }
    if (!named) return Corrupt("a multipart part without Content-Disposition");

    next = FindDelimiter(body, delimiter, pos);
    if (!next.found()) return Corrupt("the multipart body ends before its last part");
    const std::size_t end = next.at;
    if (form.size() == limits.max_fields) return TooManyFields(limits);
    // Files are bounded by the body alone; names and plain values by the field limit.
    const std::size_t length = end - pos;
    if (field.name.size() > limits.max_field || field.filename.size() > limits.max_field ||
        (field.filename.empty() && length > limits.max_field)) {
      return FieldTooLong(limits);
    }
    field.content.assign(body.substr(pos, length));
    form.Add(std::move(field));
  }
}

}  // namespace kv::server
