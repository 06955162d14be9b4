#pragma once
// A real HTTP server on 127.0.0.1 for the transport tests, native and under
// Wine. Every POST is recorded as it arrived; the target picks the reply:
//   /echo...       200, the request as the server saw it (see EchoBody)
//   /status/<code> that status with a short body
//   /bytes/<n>     200 with n bytes, byte i being i % 251
//   /hang          reads the request, answers only when the server stops
// The same routes answer over TLS on a second port, with a self-signed
// certificate for 127.0.0.1 made at start (trusted by nobody unless told).
// Beside them: a "silent" port that accepts connections and never reads or
// writes, and a "refused" port where nothing listens.
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv::http_test {

struct ReceivedRequest {
  std::string method;
  std::string target;
  std::multimap<std::string, std::string> headers;  // names as sent
  std::string body;

  // The first value of a header, any case of its name; empty when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// The reply of /echo for a request: "POST <target>", then the lines
// "Content-Type: ", "Content-Length: ", "User-Agent: ", "Transfer-Encoding: "
// with the values that arrived (empty when absent), an empty line, then the
// body bytes exactly. Lines end in "\n".
std::string EchoBody(const ReceivedRequest& request);

// Byte i of a /bytes reply.
inline char PatternByte(std::size_t i) { return static_cast<char>(i % 251); }

class HttpTestServer {
 public:
  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // Before Start: the certificate also names this host (Wine checks names
  // only against DNS entries, so its tests connect by name).
  void set_tls_dns_name(std::string name) { tls_dns_name_ = std::move(name); }
  // Binds the four ports and starts serving (once per object); false, with
  // `error` set, when a port cannot be had.
  bool Start(std::string* error = nullptr);
  // Releases hanging requests, closes every connection and joins the
  // threads. Also done by the destructor.
  void Stop();

  int http_port() const { return http_port_; }
  int https_port() const { return https_port_; }
  int silent_port() const { return silent_port_; }
  int refused_port() const { return refused_port_; }
  // The TLS port's certificate, PEM: a CA file that makes it trusted.
  const std::string& certificate_pem() const { return certificate_pem_; }

  // Every request received so far, oldest first.
  std::vector<ReceivedRequest> requests() const;
  // Blocks until `count` requests have arrived or `timeout` passed.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  struct Impl;

  std::unique_ptr<Impl> impl_;
  int http_port_ = 0;
  int https_port_ = 0;
  int silent_port_ = 0;
  int refused_port_ = 0;
  std::string certificate_pem_;
  std::string tls_dns_name_;
};

}  // namespace kv::http_test
