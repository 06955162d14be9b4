#pragma once
// A form posted to the web service, either as "multipart/form-data" (files
// and plain values, the fixed boundary below) or as
// "application/x-www-form-urlencoded", over the HTTP port. A poster is made
// for one request: fields are added, one post is made, the reply is read
// (as text by the post, or piece by piece with ReadBody for binary answers),
// and the poster is dropped, which closes the request.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/service_config.h"
#include "platform/http_transport.h"
#include "platform/status.h"

namespace kv::service {

inline constexpr std::string_view kMultipartBoundary = "---------------------------284583012225az7";
// Bodies go out, and text replies come in, in pieces of this size.
inline constexpr std::size_t kPostPieceSize = 1024;
// A multipart part header must fit this many bytes (names are short).
inline constexpr std::size_t kPartHeaderLimit = 10000;

// Escapes every byte except ASCII letters, digits and ! $ ' ( ) * + , - . _
// as "%XX" (upper-case hexadecimal). A "+" stays a plus.
std::string UrlEscape(std::string_view text);

struct FormField {
  std::string name;
  std::string file_name;  // not empty: a file part (multipart only)
  bool owns_data = true;
  std::string owned;          // the value when the poster owns it
  std::string_view borrowed;  // the caller's bytes otherwise

  std::string_view data() const { return owns_data ? std::string_view(owned) : borrowed; }
};

class FormPoster {
 public:
  explicit FormPoster(platform::HttpTransport& transport) : transport_(transport) {}
  FormPoster(const FormPoster&) = delete;
  FormPoster& operator=(const FormPoster&) = delete;

  // A plain value; the poster keeps a copy.
  void AddField(std::string_view name, std::string_view value);
  // A file part named `file_name`; the poster keeps `data`.
  void AddFile(std::string_view name, std::string_view file_name, std::string data);
  // A field whose bytes the caller keeps alive until the poster is gone.
  void AddBorrowedField(std::string_view name, std::string_view file_name, std::string_view data);
  const std::vector<FormField>& fields() const { return fields_; }

  // Posts the fields as multipart parts to `path` (the request target, query
  // included) on `host`. A form without fields is not posted. When `reply` is
  // given the reply is read into it as text (see ReadReplyText).
  platform::Status PostMultipart(const app::ServiceEndpoint& host, std::string_view path,
                                 std::string* reply = nullptr);
  // Posts "name=value&..." with both sides escaped; a value is read up to
  // its first zero byte. A form without fields posts an empty body.
  platform::Status PostUrlEncoded(const app::ServiceEndpoint& host, std::string_view path,
                                  std::string* reply = nullptr);

  // One read of the reply body (at most `capacity` bytes; 0 = the end).
  // Fails when nothing was posted.
  platform::Result<std::size_t> ReadBody(char* buffer, std::size_t capacity);
  // The HTTP status of the reply (0 before a post); the protocol ignores it.
  int ReplyStatus() const { return request_ ? request_->StatusCode() : 0; }

  // The multipart body's total length, computed by the same walk that writes it.
  std::size_t MultipartLength() const;
  // The urlencoded body.
  std::string UrlEncodedBody() const;

 private:
  platform::Status Start(const app::ServiceEndpoint& host, std::string_view path,
                         std::string_view headers, std::size_t length);
  platform::Status WritePieces(std::string_view bytes);
  // Reads the reply in 1,024-byte pieces; each piece counts up to its first
  // zero byte. A read that fails fails the post: a cut reply is no reply.
  platform::Status ReadReplyText(std::string& reply);

  platform::HttpTransport& transport_;
  std::vector<FormField> fields_;
  std::unique_ptr<platform::HttpRequest> request_;
};

}  // namespace kv::service
