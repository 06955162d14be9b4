#pragma once
// The HTTP port: one POST at a time per request object, with the body length
// announced before any body byte is written, the body written in pieces, and
// the reply body read in pieces. WinINet on Windows, libcurl elsewhere, and
// an in-process fake for tests. Failures keep their reason: a refused
// connection, a time-out and an untrusted certificate are told apart.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace kv::platform {

// Where a request goes. `path` is the request target, query included
// ("/kv.php?mode=get_id").
struct HttpTarget {
  bool secure = false;  // https
  std::string host;
  int port = 80;
  std::string path;
};

struct HttpOptions {
  // A hung server ends the request as a Timeout failure after these.
  std::chrono::milliseconds connect_timeout{30000};
  std::chrono::milliseconds send_timeout{30000};
  std::chrono::milliseconds receive_timeout{30000};
  std::string agent = "KV";
  // libcurl keeps the reply in memory: a longer one fails (Corrupt). WinINet
  // streams it, and its readers bound what they keep.
  std::size_t max_reply = 64u << 20;
  // libcurl only: a file of trusted certificate authorities used instead of
  // the system's (Windows always uses its own store). Empty: the system's.
  std::string ca_file;
};

// One POST in flight. Made by HttpTransport::StartPost; destroying it closes
// the request and its connection.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Writes the next piece of the body. Writing more than was announced fails.
  virtual Status Write(std::string_view piece) = 0;
  // Ends the body: the request is complete and the reply's head is in.
  // Fails when fewer bytes were written than announced.
  virtual Status Finish() = 0;
  // Reads up to `capacity` bytes of the reply body into `buffer`; 0 means
  // the end of the body. Only after a successful Finish.
  virtual Result<std::size_t> Read(char* buffer, std::size_t capacity) = 0;
  // The reply's HTTP status after Finish (0 before). The protocol reads the
  // body whatever the status; this is for logs and diagnostics.
  virtual int StatusCode() const = 0;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // Connects and starts a POST to `target`. `headers` holds extra header
  // lines, each ending in "\r\n" ("Content-Type: ...\r\n"); the body will be
  // exactly `content_length` bytes.
  virtual Result<std::unique_ptr<HttpRequest>> StartPost(const HttpTarget& target,
                                                        std::string_view headers,
                                                        std::uint64_t content_length) = 0;
};

// The transport of the system this runs on: WinINet on Windows (the system's
// proxy settings, nothing cached), libcurl elsewhere.
std::unique_ptr<HttpTransport> MakeSystemHttpTransport(const HttpOptions& options = {});

}  // namespace kv::platform
