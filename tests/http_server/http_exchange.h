#pragma once
// One POST through a transport as the client makes it: start, the body in
// pieces, finish, then the reply in small reads. Shared by the tests of the
// libcurl adapter (native) and of the WinINet adapter (Wine).
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/http_transport.h"

namespace kv::http_test {

// Time-outs short enough for the silent peers to end a test quickly.
inline platform::HttpOptions Impatient(int milliseconds = 1500) {
  platform::HttpOptions o;
  o.connect_timeout = o.send_timeout = o.receive_timeout = std::chrono::milliseconds(milliseconds);
  return o;
}

// The test server of a Wine run, as KV_TEST_HTTP names it:
// "127.0.0.1:<http port>:<silent port>:<refused port>[:<https port>]".
struct Peer {
  std::string host;
  int http = 0;
  int silent = 0;
  int refused = 0;
  int https = 0;  // self-signed certificate; 0 when not given
};

inline std::optional<Peer> PeerFromEnvironment() {
  const char* value = std::getenv("KV_TEST_HTTP");
  if (value == nullptr) return std::nullopt;
  std::string text = value;
  for (char& c : text)
    if (c == ':') c = ' ';
  Peer peer;
  std::istringstream in(text);
  if (!(in >> peer.host >> peer.http >> peer.silent >> peer.refused)) return std::nullopt;
  if (!(in >> peer.https)) peer.https = 0;
  return peer;
}

inline constexpr char kNoPeerHint[] =
    "no test server: run build/native/tests/http_server/kv_test_http_server --port-file FILE "
    "and set KV_TEST_HTTP to the value in FILE (scripts/test.sh does both)";

struct HttpExchange {
  platform::Status status;  // the first failure, or success
  const char* failed_at = "";  // "start", "write", "finish" or "read"
  int code = 0;
  std::string reply;
};

inline HttpExchange PostThrough(platform::HttpTransport& transport,
                                const platform::HttpTarget& target, std::string_view headers,
                                std::string_view body, std::size_t piece = 1000,
                                std::size_t read_size = 1000) {
  HttpExchange out;
  auto request = transport.StartPost(target, headers, body.size());
  if (!request) {
    out.status = request.status();
    out.failed_at = "start";
    return out;
  }
  for (std::size_t at = 0; at < body.size(); at += piece) {
    if (platform::Status s = request->Write(body.substr(at, piece)); !s) {
      out.status = s;
      out.failed_at = "write";
      return out;
    }
  }
  if (platform::Status s = request->Finish(); !s) {
    out.status = s;
    out.failed_at = "finish";
    return out;
  }
  out.code = request->StatusCode();
  std::string buffer(read_size, '\0');
  for (;;) {
    platform::Result<std::size_t> got = request->Read(buffer.data(), buffer.size());
    if (!got) {
      out.status = got.status();
      out.failed_at = "read";
      return out;
    }
    if (*got == 0) break;
    out.reply.append(buffer.data(), *got);
  }
  return out;
}

// Every byte value, then a longer stretch: the body of the exactness tests.
inline std::string BinaryBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 256) % 256);
  return body;
}

}  // namespace kv::http_test
