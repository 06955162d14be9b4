#include "platform/fake/fake_http.h"

#include <algorithm>
#include <cstring>

namespace kv::platform {

class FakeHttpRequest final : public HttpRequest {
 public:
  FakeHttpRequest(FakeHttpTransport& owner, FakeHttpExchange exchange, std::size_t piece_limit)
      : owner_(owner), exchange_(std::move(exchange)), piece_limit_(piece_limit) {}

  Status Write(std::string_view piece) override {
    if (finished_) return Status::Error(ErrorKind::Other, "write after the request ended");
    if (exchange_.body.size() + piece.size() > exchange_.announced) {
      return Status::Error(ErrorKind::Other, "body longer than the announced length");
    }
    exchange_.body.append(piece);
    exchange_.pieces.push_back(piece.size());
    return Status::Ok();
  }

  Status Finish() override {
    if (finished_) return Status::Error(ErrorKind::Other, "request already ended");
    if (exchange_.body.size() != exchange_.announced) {
      return Status::Error(ErrorKind::Other, "body shorter than the announced length");
    }
    finished_ = true;
    reply_ = owner_.Serve(exchange_);
    if (reply_.finish_failure) return *reply_.finish_failure;
    status_ = reply_.status;
    return Status::Ok();
  }

  Result<std::size_t> Read(char* buffer, std::size_t capacity) override {
    if (!finished_ || status_ == 0) return Status::Error(ErrorKind::Other, "no reply to read");
    std::size_t end = reply_.body.size();
    if (reply_.break_after) {
      end = std::min(end, *reply_.break_after);
      if (offset_ >= end && end < reply_.body.size()) return reply_.read_failure;
    }
    std::size_t n = std::min(capacity, end - offset_);
    if (piece_limit_ != 0) n = std::min(n, piece_limit_);
    if (n != 0) std::memcpy(buffer, reply_.body.data() + offset_, n);
    offset_ += n;
    return n;
  }

  int StatusCode() const override { return status_; }

 private:
  FakeHttpTransport& owner_;
  FakeHttpExchange exchange_;
  std::size_t piece_limit_;
  bool finished_ = false;
  FakeHttpReply reply_;
  int status_ = 0;
  std::size_t offset_ = 0;
};

FakeHttpTransport::FakeHttpTransport(Handler handler) : handler_(std::move(handler)) {}

void FakeHttpTransport::SetHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void FakeHttpTransport::SetConnectFailure(std::optional<Status> failure) {
  std::lock_guard lock(mutex_);
  connect_failure_ = std::move(failure);
}

void FakeHttpTransport::SetReadPieceLimit(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  read_piece_limit_ = bytes;
}

Result<std::unique_ptr<HttpRequest>> FakeHttpTransport::StartPost(const HttpTarget& target,
                                                                 std::string_view headers,
                                                                 std::uint64_t content_length) {
  std::lock_guard lock(mutex_);
  if (connect_failure_) return *connect_failure_;
  FakeHttpExchange exchange;
  exchange.target = target;
  exchange.headers = std::string(headers);
  exchange.announced = content_length;
  return std::unique_ptr<HttpRequest>(
      std::make_unique<FakeHttpRequest>(*this, std::move(exchange), read_piece_limit_));
}

FakeHttpReply FakeHttpTransport::Serve(const FakeHttpExchange& exchange) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    exchanges_.push_back(exchange);
    handler = handler_;
  }
  // Outside the lock: a handler may look at the transport.
  return handler ? handler(exchange) : FakeHttpReply{};
}

std::vector<FakeHttpExchange> FakeHttpTransport::exchanges() const {
  std::lock_guard lock(mutex_);
  return exchanges_;
}

std::size_t FakeHttpTransport::exchange_count() const {
  std::lock_guard lock(mutex_);
  return exchanges_.size();
}

}  // namespace kv::platform
