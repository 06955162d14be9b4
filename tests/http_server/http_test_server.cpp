#include "http_server/http_test_server.h"

#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

namespace kv::http_test {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The number after `prefix` in a target ("/bytes/100"), -1 when there is none.
long long NumberAfter(std::string_view target, std::string_view prefix) {
  target.remove_prefix(prefix.size());
  target = target.substr(0, target.find('?'));
  long long n = -1;
  const auto [end, ec] = std::from_chars(target.data(), target.data() + target.size(), n);
  if (ec != std::errc() || end != target.data() + target.size()) return -1;
  return n;
}

// A thread per connection instead of cpp-httplib's fixed pool: hanging
// requests hold their thread until the server stops, and a handful of
// them must not starve the other tests.
class ThreadPerConnection final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    std::lock_guard lock(mutex_);
    std::erase_if(workers_, [](Worker& w) {
      if (!*w.done) return false;
      w.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([fn = std::move(fn), done] {
                          fn();
                          *done = true;
                        }),
                        done});
  }

  void shutdown() override {
    std::vector<Worker> all;
    {
      std::lock_guard lock(mutex_);
      all.swap(workers_);
    }
    for (Worker& w : all) w.thread.join();
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex mutex_;
  std::vector<Worker> workers_;
};

// A TCP socket bound to 127.0.0.1 on a port of the system's choice.
int BindLoopback(int* port, std::string* error) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    *error = std::string("bind: ") + std::strerror(errno);
    close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

bool AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) return false;
  const bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

// A self-signed certificate for 127.0.0.1 (not "localhost") and `dns_name`
// when given, valid a day: it is its own authority, so a CA file holding it
// makes it trusted.
bool MakeCertificate(Key* key, Cert* cert, std::string* pem, const std::string& dns_name) {
  key->reset(EVP_EC_gen("P-256"));
  cert->reset(X509_new());
  if (!*key || !*cert) return false;
  X509* c = cert->get();
  X509_NAME* name = X509_get_subject_name(c);
  const auto cn = reinterpret_cast<const unsigned char*>("127.0.0.1");
  if (X509_set_version(c, 2) != 1 || ASN1_INTEGER_set(X509_get_serialNumber(c), 1) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(c), -3600) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(c), 86400) == nullptr ||
      X509_set_pubkey(c, key->get()) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, cn, -1, -1, 0) != 1 ||
      X509_set_issuer_name(c, name) != 1 ||
      !AddExtension(c, NID_basic_constraints, "critical,CA:TRUE") ||
      !AddExtension(c, NID_subject_alt_name,
                    ("IP:127.0.0.1" + (dns_name.empty() ? "" : ",DNS:" + dns_name)).c_str()) ||
      X509_sign(c, key->get(), EVP_sha256()) == 0) {
    return false;
  }
  BIO* out = BIO_new(BIO_s_mem());
  if (out == nullptr) return false;
  char* data = nullptr;
  const bool written = PEM_write_bio_X509(out, c) == 1;
  const long size = BIO_get_mem_data(out, &data);
  if (written && size > 0) pem->assign(data, static_cast<std::size_t>(size));
  BIO_free(out);
  return written && size > 0;
}

}  // namespace

std::string ReceivedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (SameName(key, name)) return value;
  return {};
}

bool ReceivedRequest::HasHeader(std::string_view name) const {
  for (const auto& entry : headers)
    if (SameName(entry.first, name)) return true;
  return false;
}

std::string EchoBody(const ReceivedRequest& request) {
  std::string out = request.method + " " + request.target + "\n";
  for (const char* name : {"Content-Type", "Content-Length", "User-Agent", "Transfer-Encoding"}) {
    out += std::string(name) + ": " + request.Header(name) + "\n";
  }
  out += "\n";
  out += request.body;
  return out;
}

struct HttpTestServer::Impl {
  httplib::Server server;
  std::thread http_thread;
  std::unique_ptr<httplib::SSLServer> tls_server;
  std::thread https_thread;

  int silent_fd = -1;
  int wake[2] = {-1, -1};  // a byte here ends the silent loop
  std::thread silent_thread;

  // Bound but never listening: a connection there is refused at once, and
  // no other program can take the port while the server runs.
  int refused_fd = -1;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<ReceivedRequest> requests;
  bool stopping = false;
  bool started = false;

  static constexpr char kHiddenType[] = "X-Kv-Hidden-Content-Type";

  void Serve(const httplib::Request& req, httplib::Response& res) {
    ReceivedRequest got;
    got.method = req.method;
    got.target = req.target;
    for (const auto& [name, value] : req.headers) {
      // cpp-httplib adds the peer's address as pseudo headers.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT") {
        continue;
      }
      got.headers.emplace(name, value);
    }
    got.body = req.body;
    if (const auto hidden = got.headers.find(kHiddenType); hidden != got.headers.end()) {
      got.headers.emplace("Content-Type", hidden->second);
      got.headers.erase(hidden);
    }
    {
      std::lock_guard lock(mutex);
      requests.push_back(got);
    }
    changed.notify_all();

    const std::string_view target = got.target;
    if (StartsWith(target, "/echo")) {
      res.status = 200;
      res.set_content(EchoBody(got), "application/octet-stream");
    } else if (StartsWith(target, "/status/")) {
      const long long code = NumberAfter(target, "/status/");
      if (code < 200 || code > 599) {
        res.status = 400;
        res.set_content("bad status\n", "text/plain");
      } else {
        res.status = static_cast<int>(code);
        res.set_content("status " + std::to_string(code) + "\n", "text/plain");
      }
    } else if (StartsWith(target, "/bytes/")) {
      const long long n = NumberAfter(target, "/bytes/");
      if (n < 0 || n > (256 << 20)) {
        res.status = 400;
        res.set_content("bad length\n", "text/plain");
        return;
      }
      std::string bytes(static_cast<std::size_t>(n), '\0');
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = PatternByte(i);
      res.status = 200;
      res.set_content(std::move(bytes), "application/octet-stream");
    } else if (StartsWith(target, "/hang")) {
      std::unique_lock lock(mutex);
      changed.wait(lock, [this] { return stopping; });
      res.status = 503;
      res.set_content("stopped\n", "text/plain");
    } else {
      res.status = 404;
      res.set_content("no such route\n", "text/plain");
    }
  }

  // Both servers: the same routes and settings.
  void Configure(httplib::Server& server) {
    server.new_task_queue = [] { return new ThreadPerConnection; };
    // Without it a reply on a kept-alive connection waits ~40 ms for the
    // client's delayed ACK (Nagle).
    server.set_tcp_nodelay(true);
    // An idle kept-alive connection holds its thread this long, and so Stop.
    server.set_keep_alive_timeout(1);
    // cpp-httplib always parses a multipart body into parts and leaves the
    // body empty; the tests need the bytes as sent. The request object is
    // the server's own (not const), so its type can be hidden until the
    // handler puts it back.
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
      auto& request = const_cast<httplib::Request&>(req);
      const auto type = request.headers.find("Content-Type");
      if (type != request.headers.end() && type->second.rfind("multipart/", 0) == 0) {
        request.headers.emplace(kHiddenType, type->second);
        request.headers.erase(type);
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Post(".*",
                [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); });
  }

  void SilentLoop() {
    std::vector<int> connections;
    for (;;) {
      pollfd fds[2] = {{silent_fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[1].revents != 0) break;
      if (fds[0].revents & POLLIN) {
        const int c = accept4(silent_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) connections.push_back(c);
      }
    }
    for (int c : connections) close(c);
  }
};

HttpTestServer::HttpTestServer() : impl_(std::make_unique<Impl>()) {}

HttpTestServer::~HttpTestServer() { Stop(); }

bool HttpTestServer::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (impl_->started) return true;
  Impl& s = *impl_;

  s.Configure(s.server);
  http_port_ = s.server.bind_to_any_port("127.0.0.1");
  if (http_port_ <= 0) {
    *error = "cannot bind the HTTP port";
    return false;
  }

  Key key;
  Cert cert;
  if (!MakeCertificate(&key, &cert, &certificate_pem_, tls_dns_name_)) {
    *error = "cannot make the TLS certificate";
    return false;
  }
  // The server takes its own references to both.
  s.tls_server = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
  if (!s.tls_server->is_valid()) {
    *error = "cannot set up TLS";
    return false;
  }
  s.Configure(*s.tls_server);
  https_port_ = s.tls_server->bind_to_any_port("127.0.0.1");
  if (https_port_ <= 0) {
    *error = "cannot bind the HTTPS port";
    return false;
  }

  s.silent_fd = BindLoopback(&silent_port_, error);
  if (s.silent_fd < 0) return false;
  if (listen(s.silent_fd, 64) != 0) {
    *error = std::string("listen: ") + std::strerror(errno);
    return false;
  }
  s.refused_fd = BindLoopback(&refused_port_, error);
  if (s.refused_fd < 0) return false;
  if (pipe2(s.wake, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }

  s.http_thread = std::thread([&s] { s.server.listen_after_bind(); });
  s.https_thread = std::thread([&s] { s.tls_server->listen_after_bind(); });
  s.silent_thread = std::thread([&s] { s.SilentLoop(); });
  s.started = true;
  // stop() before the loop runs would be lost and leave it running for good.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!s.server.is_running() || !s.tls_server->is_running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      *error = "the HTTP loop did not start";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void HttpTestServer::Stop() {
  Impl& s = *impl_;
  {
    std::lock_guard lock(s.mutex);
    s.stopping = true;
  }
  s.changed.notify_all();
  if (s.http_thread.joinable()) {
    s.server.stop();
    s.http_thread.join();
  }
  if (s.https_thread.joinable()) {
    s.tls_server->stop();
    s.https_thread.join();
  }
  if (s.silent_thread.joinable()) {
    const char byte = 1;
    if (write(s.wake[1], &byte, 1) != 1) {
      // The pipe is empty and open; a failed write leaves nothing to do but wait.
    }
    s.silent_thread.join();
  }
  for (int* fd : {&s.silent_fd, &s.refused_fd, &s.wake[0], &s.wake[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  s.started = false;
}

std::vector<ReceivedRequest> HttpTestServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

bool HttpTestServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

}  // namespace kv::http_test
