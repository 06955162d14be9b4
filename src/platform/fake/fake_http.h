#pragma once
// An HTTP peer inside the test process: every POST is handed, when its body
// is complete, to a handler that decides the reply. The transport records
// each exchange as it went over the wire (headers, announced length, body
// and the size of every written piece) and refuses what a real server or
// WinINet would refuse: a body longer or shorter than announced.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/http_transport.h"

namespace kv::platform {

struct FakeHttpExchange {
  HttpTarget target;
  std::string headers;          // the extra header lines as given
  std::uint64_t announced = 0;  // the announced body length
  std::string body;             // every byte written
  std::vector<std::size_t> pieces;  // the size of each Write
};

struct FakeHttpReply {
  int status = 200;
  std::string body;
  // When set, Finish fails with it (the server dropped the request).
  std::optional<Status> finish_failure;
  // When set, reading fails with `read_failure` after this many body bytes.
  std::optional<std::size_t> break_after;
  Status read_failure = Status::Error(ErrorKind::Network, "connection reset");

  static FakeHttpReply Ok(std::string body) {
    FakeHttpReply r;
    r.body = std::move(body);
    return r;
  }
};

class FakeHttpTransport final : public HttpTransport {
 public:
  using Handler = std::function<FakeHttpReply(const FakeHttpExchange&)>;

  // Without a handler every request gets an empty 200 reply.
  explicit FakeHttpTransport(Handler handler = {});

  void SetHandler(Handler handler);
  // While set, StartPost fails with it (nothing listens, no network).
  void SetConnectFailure(std::optional<Status> failure);
  // Reads hand out at most this many bytes each (a network delivers pieces).
  void SetReadPieceLimit(std::size_t bytes);

  Result<std::unique_ptr<HttpRequest>> StartPost(const HttpTarget& target,
                                                std::string_view headers,
                                                std::uint64_t content_length) override;

  // The completed exchanges, oldest first (a copy: workers may be posting).
  std::vector<FakeHttpExchange> exchanges() const;
  std::size_t exchange_count() const;

 private:
  friend class FakeHttpRequest;
  FakeHttpReply Serve(const FakeHttpExchange& exchange);

  mutable std::mutex mutex_;
  Handler handler_;
  std::optional<Status> connect_failure_;
  std::size_t read_piece_limit_ = 0;
  std::vector<FakeHttpExchange> exchanges_;
};

}  // namespace kv::platform
