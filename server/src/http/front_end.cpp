#include "http/front_end.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kv::server {
namespace {

using platform::ErrorKind;
using platform::Status;
using Clock = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

// What the pre-routing step took from the request served on this thread.
// cpp-httplib runs all of one request (head, body, handler, log) on one
// worker thread, and each worker serves one server only.
struct Exchange {
  bool active = false;
  Clock::time_point start;
  Wall::time_point received;
  std::string content_type;
  std::string content_encoding;
};
thread_local Exchange current;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The media type of a Content-Type value, lower case ("multipart/form-data").
std::string MediaType(std::string_view value) {
  value = value.substr(0, value.find(';'));
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  std::string out(value);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

// Takes a header out of the request, returning its first value. The request
// object is cpp-httplib's own, not const.
std::string TakeHeader(const httplib::Request& req, const char* name) {
  auto& headers = const_cast<httplib::Headers&>(req.headers);
  const auto [first, last] = headers.equal_range(name);
  std::string value = first != last ? first->second : std::string();
  headers.erase(first, last);
  return value;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Control bytes in a logged target are escaped, and a long one is cut, so
// that a line stays a line.
// The target with the values of sign-in parameters blanked: the site's pages
// take the account and its password digest in the query.
std::string Redacted(std::string_view target) {
  const std::size_t query = target.find('?');
  if (query == std::string_view::npos) return std::string(target);
  std::string out(target.substr(0, query + 1));
  std::string_view rest = target.substr(query + 1);
  bool first = true;
  while (!rest.empty() || first) {
    const std::size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    const std::string_view name = pair.substr(0, pair.find('='));
    if (!first) out += '&';
    first = false;
    const bool secret = name == "pwd" || name == "login" || name == "password" || name == "email";
    out += secret && pair.find('=') != std::string_view::npos ? std::string(name) + "=*" : std::string(pair);
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return out;
}

std::string Printable(std::string_view text) {
  constexpr std::size_t kMax = 300;
  std::string out;
  for (const char c : text.substr(0, kMax)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ' ') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  if (text.size() > kMax) out += "...";
  return out;
}

// "2026-12-08T08:57:06.123Z"
std::string Timestamp(Wall::time_point when) {
  const std::time_t seconds = Wall::to_time_t(when);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

Status ListenFailure(const std::string& where, int error) {
  const std::string message =
      "cannot listen on " + where + (error != 0 ? std::string(": ") + std::strerror(error) : "");
  const auto code = static_cast<std::uint32_t>(error);
  switch (error) {
    case EADDRINUSE: return Status::Error(ErrorKind::AlreadyExists, message, code);
    case EACCES: return Status::Error(ErrorKind::AccessDenied, message, code);
    default: return Status::Error(ErrorKind::Network, message, code);
  }
}

}  // namespace

struct FrontEnd::Impl {
  FrontEndOptions options;
  FallbackHandler fallback;
  std::map<std::string, ModeHandler, std::less<>> modes;
  // An SSLServer when a certificate is given; made by the front end's constructor.
  std::unique_ptr<httplib::Server> owned_server;
  httplib::Server& server() { return *owned_server; }
  std::thread thread;
  std::mutex stop_mutex;
  bool started = false;
  bool stopped = false;

  httplib::Server::HandlerResponse PreRoute(const httplib::Request& req, httplib::Response& res) {
    current = {};
    current.active = true;
    current.start = Clock::now();
    current.received = Wall::now();
    if (req.method == "GET" || req.method == "HEAD") return httplib::Server::HandlerResponse::Unhandled;

    // cpp-httplib parses a multipart body itself and leaves the body empty,
    // refuses urlencoded bodies over 8 KiB and inflates gzip bodies past
    // the length limit. Without these headers it keeps the bytes as sent
    // for our parsers; the handler reads them from `current`.
    current.content_type = TakeHeader(req, "Content-Type");
    current.content_encoding = TakeHeader(req, "Content-Encoding");

    // Without a plain length a body is read until the peer stops, past
    // every limit; the client always announces one.
    const bool body_expected = req.method == "POST" || req.method == "PUT" || req.method == "PATCH" ||
                               req.method == "PRI";
    if (req.has_header("Transfer-Encoding") ||
        (body_expected && !AllDigits(req.get_header_value("Content-Length")))) {
      res.status = 411;
      res.set_header("Connection", "close");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  // The form by its content type; any other type gives an empty form.
  platform::Result<Form> ReadForm(const httplib::Request& req) const {
    if (!current.content_encoding.empty()) {
      return Status::Error(ErrorKind::Corrupt,
                           "content coding not accepted: " + Printable(current.content_encoding));
    }
    const std::string type = MediaType(current.content_type);
    if (type == "application/x-www-form-urlencoded") return ParseUrlEncoded(req.body, options.limits);
    if (type == "multipart/form-data") {
      return ParseMultipart(current.content_type, req.body, options.limits);
    }
    return Form();
  }

  // A browser's form: unlike the client, it sends a blank as "+" (and a
  // plus as "%2B").
  platform::Result<Form> ReadPageForm(const httplib::Request& req) const {
    if (current.content_encoding.empty() &&
        MediaType(current.content_type) == "application/x-www-form-urlencoded") {
      std::string body;
      body.reserve(req.body.size());
      for (const char c : req.body) {
        if (c == '+') body += "%20";
        else body += c;
      }
      return ParseUrlEncoded(body, options.limits);
    }
    return ReadForm(req);
  }

  void ServeMode(const httplib::Request& req, httplib::Response& res) {
    ModeRequest request;
    request.remote_address = req.remote_addr;
    request.remote_port = req.remote_port;
    request.received = current.active ? current.received : Wall::now();

    Status problem;
    const std::size_t query_at = req.target.find('?');
    const std::string_view query =
        query_at == std::string::npos ? std::string_view() : std::string_view(req.target).substr(query_at + 1);
    if (auto fields = ParseUrlEncoded(query, options.limits); !fields) {
      problem = Status::Error(ErrorKind::Corrupt, "malformed query: " + fields.status().message());
    } else {
      request.mode = std::string(fields->Value("mode").value_or(""));
    }
    if (problem.ok()) {
      if (auto form = ReadForm(req); form) request.form = std::move(form).value();
      else problem = form.status();
    }
    const auto mode = modes.find(request.mode);
    if (problem.ok() && mode == modes.end()) {
      problem = Status::Error(ErrorKind::NotFound, "unknown mode: " + Printable(request.mode));
    }

    Reply reply;
    try {
      if (problem.ok()) reply = mode->second(request);
      else if (fallback) reply = fallback(request, problem);
      else reply = Reply{500, {}, {}};
    } catch (...) {
      // A handler's failure is no answer; the client reports an invalid response.
      reply = Reply{500, {}, {}};
    }
    res.status = reply.status;
    if (!reply.body.empty() || !reply.content_type.empty()) {
      res.set_header("Content-Type",
                     reply.content_type.empty() ? "application/octet-stream" : reply.content_type);
    }
    res.body = std::move(reply.body);  // answers run to megabytes: no copy
  }

  void Log(const httplib::Request& req, const httplib::Response& res) {
    const Exchange exchange = std::exchange(current, Exchange());
    if (!options.log) return;
    const Clock::time_point now = Clock::now();
    const double millis =
        exchange.active ? std::chrono::duration<double, std::milli>(now - exchange.start).count() : 0.0;
    // A refused body was never kept: its announced length tells its size.
    std::uint64_t in = req.body.size();
    const std::string length = req.get_header_value("Content-Length");
    if (in == 0 && AllDigits(length)) std::from_chars(length.data(), length.data() + length.size(), in);

    const bool v6 = req.remote_addr.find(':') != std::string::npos;
    std::string line = Timestamp(exchange.active ? exchange.received : Wall::now());
    line += ' ';
    line += v6 ? "[" + req.remote_addr + "]" : req.remote_addr;
    line += ':' + std::to_string(req.remote_port);
    line += ' ' + Printable(req.method.empty() ? "-" : req.method);
    line += ' ' + Printable(req.target.empty() ? "-" : Redacted(req.target));
    line += ' ' + std::to_string(res.status);
    line += " in=" + std::to_string(in) + " out=" + std::to_string(res.body.size());
    char ms[32];
    std::snprintf(ms, sizeof ms, " %.3fms", millis);
    line += ms;
    options.log(line);
  }

  void Configure() {
    const unsigned threads =
        options.threads != 0 ? options.threads : std::max(4u, std::thread::hardware_concurrency());
    server().new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // Without it a reply on a kept-alive connection waits for the peer's
    // delayed ACK: ~43 ms and ~300 requests a second instead of 0.15 ms.
    server().set_tcp_nodelay(true);
    // Address reuse alone: cpp-httplib's default also shares the port
    // with a second server, which would then take half the requests.
    server().set_socket_options([](int sock) {
      const int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server().set_keep_alive_max_count(1000);
    server().set_keep_alive_timeout(static_cast<time_t>(options.keep_alive.count()));
    server().set_read_timeout(static_cast<time_t>(options.io_timeout.count()));
    server().set_write_timeout(static_cast<time_t>(options.io_timeout.count()));
    server().set_payload_max_length(options.limits.max_body);
    server().set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return PreRoute(req, res); });
    server().Post("/kv\\.php",
                [this](const httplib::Request& req, httplib::Response& res) { ServeMode(req, res); });
    server().set_logger([this](const httplib::Request& req, const httplib::Response& res) { Log(req, res); });
  }
};

FrontEnd::FrontEnd(FrontEndOptions options, FallbackHandler fallback) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->fallback = std::move(fallback);
  const FrontEndOptions& o = impl_->options;
  if (o.tls_cert.empty()) impl_->owned_server = std::make_unique<httplib::Server>();
  else impl_->owned_server = std::make_unique<httplib::SSLServer>(o.tls_cert.c_str(), o.tls_key.c_str());
}

FrontEnd::~FrontEnd() { Stop(); }

void FrontEnd::AddMode(std::string mode, ModeHandler handler) {
  impl_->modes.insert_or_assign(std::move(mode), std::move(handler));
}

void FrontEnd::Get(const std::string& pattern, PageHandler handler) {
  impl_->server().Get(pattern, std::move(handler));
}

void FrontEnd::Post(const std::string& pattern, FormPageHandler handler) {
  Impl* s = impl_.get();
  s->server().Post(pattern, [s, handler = std::move(handler)](const httplib::Request& req,
                                                              httplib::Response& res) {
    auto form = s->ReadPageForm(req);
    handler(req, form ? &*form : nullptr, res);
  });
}

Status FrontEnd::Bind() {
  std::lock_guard lock(impl_->stop_mutex);
  return BindLocked();
}

Status FrontEnd::BindLocked() {
  Impl& s = *impl_;
  if (port_ != 0) return Status::Ok();
  if (!s.server().is_valid()) {
    return Status::Error(ErrorKind::Corrupt, "cannot use the certificate " + s.options.tls_cert +
                                                 " with the key " + s.options.tls_key);
  }
  s.Configure();

  const std::string& host = s.options.host;
  const std::string where =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(s.options.port);
  errno = 0;
  int port = s.options.port;
  if (port == 0) port = s.server().bind_to_any_port(host);
  else if (!s.server().bind_to_port(host, port)) port = -1;
  if (port <= 0) return ListenFailure(where, errno);
  port_ = port;
  return Status::Ok();
}

Status FrontEnd::Start() {
  Impl& s = *impl_;
  std::lock_guard lock(s.stop_mutex);
  if (s.started) return Status::Error(ErrorKind::Other, "the front end was started before");
  s.started = true;
  if (Status bound = BindLocked(); !bound) return bound;

  s.thread = std::thread([&s] { s.server().listen_after_bind(); });
  // A stop() before the loop runs would be lost and leave it running.
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!s.server().is_running()) {
    if (Clock::now() > deadline) return Status::Error(ErrorKind::Other, "the HTTP loop did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Status::Ok();
}

void FrontEnd::Stop() {
  Impl& s = *impl_;
  std::lock_guard lock(s.stop_mutex);
  // cpp-httplib asserts when stopped twice.
  if (!s.thread.joinable() || s.stopped) return;
  s.stopped = true;
  s.server().stop();
  s.thread.join();
}

}  // namespace kv::server
