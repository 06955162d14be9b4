#pragma once
// The service's HTTP front end over cpp-httplib. `POST /kv.php?mode=<mode>`
// goes to the handler registered for that mode, with the body parsed by our
// own form parsers; a request no mode can take (an unknown mode, a body
// that does not parse) goes to the caller's fallback, so that every
// protocol answer comes from the protocol layer. The site's pages register
// with Get. Every request writes one line to the log sink.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/form.h"
#include "platform/status.h"
#include "protocol/limits.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace kv::server {

struct ModeRequest {
  std::string mode;
  Form form;
  std::string remote_address;  // the peer's IP address
  int remote_port = 0;
  std::chrono::system_clock::time_point received;  // when the request's head was in
};

struct Reply {
  int status = 200;
  std::string body;
  std::string content_type = "application/zip";
};

using ModeHandler = std::function<Reply(const ModeRequest&)>;
// `problem` says why no mode took the request: NotFound for an unknown (or
// missing) mode, or the parser's failure, in which case the form is empty.
// The form of an unknown mode is there: old clients are answered by their
// `client_build` whatever they ask.
using FallbackHandler = std::function<Reply(const ModeRequest&, const platform::Status& problem)>;
using PageHandler = std::function<void(const httplib::Request&, httplib::Response&)>;
// A page's POST: the body read by our own parsers (the pre-routing step
// hides the content type from cpp-httplib); nullptr when it did not parse.
using FormPageHandler =
    std::function<void(const httplib::Request&, const Form* form, httplib::Response&)>;
// Called on the worker threads, so it must be safe to call concurrently.
using LogSink = std::function<void(std::string_view line)>;

struct FrontEndOptions {
  std::string host = "127.0.0.1";
  int port = 8080;       // 0: a free port the system picks (see FrontEnd::port)
  unsigned threads = 0;  // workers; 0: the hardware's concurrency, at least 4
  RequestLimits limits;
  // A read or write that stalls this long ends the connection.
  std::chrono::seconds io_timeout{30};
  // An idle kept-alive connection is closed after this; Stop waits as long
  // for one at most.
  std::chrono::seconds keep_alive{5};
  LogSink log;
  // PEM files; with both set the front end speaks HTTPS only.
  std::string tls_cert;
  std::string tls_key;
};

class FrontEnd {
 public:
  FrontEnd(FrontEndOptions options, FallbackHandler fallback);
  ~FrontEnd();  // Stop()
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // Registration happens before Start; a later mode replaces an earlier one
  // of the same name (modes compare exactly).
  void AddMode(std::string mode, ModeHandler handler);
  // Passed to cpp-httplib as it is (`pattern` is its regular expression).
  void Get(const std::string& pattern, PageHandler handler);
  // POSTs of a page, urlencoded or multipart; `pattern` as for Get. The
  // protocol's /kv.php is taken before.
  void Post(const std::string& pattern, FormPageHandler handler);

  // Binds the port without serving yet, so that its number is known before
  // the handlers that name it are made; Start binds when this was not done.
  platform::Status Bind();
  // Binds and serves on a thread of its own; once per object.
  platform::Status Start();
  // Stops accepting; requests in flight finish first. Safe to call more
  // than once and from any thread but a worker's.
  void Stop();
  // The bound port after a successful Bind or Start, 0 before.
  int port() const { return port_; }

 private:
  struct Impl;
  platform::Status BindLocked();

  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

}  // namespace kv::server
