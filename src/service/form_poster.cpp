#include "service/form_poster.h"

#include <algorithm>

namespace kv::service {
namespace {

using platform::ErrorKind;
using platform::Status;

bool IsUnreserved(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!': case '$': case '\'': case '(': case ')': case '*':
    case '+': case ',': case '-': case '.': case '_':
      return true;
    default:
      return false;
  }
}

std::string PartHeader(const FormField& f) {
  std::string h = "--";
  h += kMultipartBoundary;
  h += "\r\nContent-Disposition: form-data; name=\"";
  h += f.name;
  if (!f.file_name.empty()) {
    h += "\"; filename=\"";
    h += f.file_name;
    h += "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
  } else {
    h += "\"\r\n\r\n";
  }
  return h;
}

std::string CloseDelimiter() {
  return "--" + std::string(kMultipartBoundary) + "--\r\n";
}

platform::HttpTarget TargetOf(const app::ServiceEndpoint& host, std::string_view path) {
  platform::HttpTarget t;
  t.secure = host.secure();
  t.host = host.host;
  t.port = host.port;
  t.path = std::string(path);
  return t;
}

}  // namespace

std::string UrlEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

void FormPoster::AddField(std::string_view name, std::string_view value) {
  FormField f;
  f.name = std::string(name);
  f.owned = std::string(value);
  fields_.push_back(std::move(f));
}

void FormPoster::AddFile(std::string_view name, std::string_view file_name, std::string data) {
  FormField f;
  f.name = std::string(name);
  f.file_name = std::string(file_name);
  f.owned = std::move(data);
  fields_.push_back(std::move(f));
}

void FormPoster::AddBorrowedField(std::string_view name, std::string_view file_name,
                                  std::string_view data) {
  FormField f;
  f.name = std::string(name);
  f.file_name = std::string(file_name);
  f.owns_data = false;
  f.borrowed = data;
  fields_.push_back(std::move(f));
}

std::size_t FormPoster::MultipartLength() const {
  std::size_t total = 0;
  for (const FormField& f : fields_) total += PartHeader(f).size() + f.data().size() + 2;
  return total + CloseDelimiter().size();
}

std::string FormPoster::UrlEncodedBody() const {
  std::string body;
  bool first = true;
  for (const FormField& f : fields_) {
    if (!first) body += '&';
    first = false;
    body += UrlEscape(f.name);
    body += '=';
    std::string_view value = f.data();
    value = value.substr(0, value.find('\0'));  // read as text
    body += UrlEscape(value);
  }
  return body;
}

Status FormPoster::Start(const app::ServiceEndpoint& host, std::string_view path,
                         std::string_view headers, std::size_t length) {
  request_.reset();
  auto request = transport_.StartPost(TargetOf(host, path), headers, length);
  if (!request) return request.status();
  request_ = std::move(request).value();
  return Status::Ok();
}

Status FormPoster::WritePieces(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(bytes.size(), kPostPieceSize);
    if (Status s = request_->Write(bytes.substr(0, n)); !s) return s;
    bytes.remove_prefix(n);
  }
  return Status::Ok();
}

Status FormPoster::PostMultipart(const app::ServiceEndpoint& host, std::string_view path,
                                 std::string* reply) {
  if (fields_.empty()) return Status::Error(ErrorKind::Other, "a form without fields is not posted");
  for (const FormField& f : fields_) {
    if (PartHeader(f).size() >= kPartHeaderLimit) {
      return Status::Error(ErrorKind::Other, "form field name too long: " + f.name.substr(0, 64));
    }
  }
  const std::string header =
      "Content-Type: multipart/form-data; boundary=" + std::string(kMultipartBoundary) + "\r\n";
  if (Status s = Start(host, path, header, MultipartLength()); !s) return s;
  for (const FormField& f : fields_) {
    // The part header in one piece, the data in pieces, then the line end.
    if (Status s = request_->Write(PartHeader(f)); !s) return s;
    if (Status s = WritePieces(f.data()); !s) return s;
    if (Status s = request_->Write("\r\n"); !s) return s;
  }
  if (Status s = request_->Write(CloseDelimiter()); !s) return s;
  if (Status s = request_->Finish(); !s) return s;
  return reply ? ReadReplyText(*reply) : Status::Ok();
}

Status FormPoster::PostUrlEncoded(const app::ServiceEndpoint& host, std::string_view path,
                                  std::string* reply) {
  const std::string body = UrlEncodedBody();
  if (Status s = Start(host, path, "Content-Type: application/x-www-form-urlencoded\r\n",
                       body.size());
      !s) {
    return s;
  }
  if (Status s = WritePieces(body); !s) return s;
  if (Status s = request_->Finish(); !s) return s;
  return reply ? ReadReplyText(*reply) : Status::Ok();
}

platform::Result<std::size_t> FormPoster::ReadBody(char* buffer, std::size_t capacity) {
  if (!request_) return Status::Error(ErrorKind::Other, "nothing was posted");
  return request_->Read(buffer, capacity);
}

Status FormPoster::ReadReplyText(std::string& reply) {
  reply.clear();
  char piece[kPostPieceSize];
  for (;;) {
    auto n = ReadBody(piece, sizeof piece);
    if (!n) return n.status();
    if (*n == 0) return Status::Ok();
    std::string_view text(piece, *n);
    reply.append(text.substr(0, text.find('\0')));
  }
}

}  // namespace kv::service
