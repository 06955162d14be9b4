// The HTTP port on WinINet: the system's proxy settings, nothing written to
// the cache, certificates checked by the system (no SECURITY_FLAG_IGNORE_*:
// an untrusted certificate is a failure). Every request has its own root
// handle, so the time-outs of one transport never leak into another.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/http_transport.h"
#include "platform/win32/error_win.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

namespace kv::platform {
namespace {

using win32::ErrorStatus;
using win32::ScopedInternetHandle;
using win32::Widen;

// One WinINet call moves at most this much (its sizes are DWORDs).
constexpr std::size_t kMaxChunk = 1u << 30;

std::string HostPort(const HttpTarget& target) {
  const bool ipv6 = target.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + target.host + "]" : target.host) + ":" + std::to_string(target.port);
}

DWORD Milliseconds(std::chrono::milliseconds ms) {
  return static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(
      ms.count(), 1, std::numeric_limits<DWORD>::max()));
}

// Windows hands the root's time-outs down to the handles made from it; Wine
// gives a connection only the connect time-out and waits for ever on send
// and receive unless the connection has its own, so both get them.
Status SetTimeouts(HINTERNET handle, const HttpOptions& options, const std::string& where) {
  const struct {
    DWORD option;
    DWORD value;
  } timeouts[] = {
      {INTERNET_OPTION_CONNECT_TIMEOUT, Milliseconds(options.connect_timeout)},
      {INTERNET_OPTION_SEND_TIMEOUT, Milliseconds(options.send_timeout)},
      {INTERNET_OPTION_RECEIVE_TIMEOUT, Milliseconds(options.receive_timeout)},
  };
  for (const auto& t : timeouts) {
    DWORD value = t.value;
    if (!InternetSetOptionW(handle, t.option, &value, sizeof value)) {
      return ErrorStatus(GetLastError(), where);
    }
  }
  // The data variants as well where the handle takes them; not every
  // WinINet version does, and the three above bound every wait already.
  DWORD send = Milliseconds(options.send_timeout);
  DWORD receive = Milliseconds(options.receive_timeout);
  InternetSetOptionW(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, &send, sizeof send);
  InternetSetOptionW(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receive, sizeof receive);
  return Status::Ok();
}

class WinInetRequest final : public HttpRequest {
 public:
  WinInetRequest(ScopedInternetHandle root, ScopedInternetHandle connection,
                 ScopedInternetHandle request, std::uint64_t announced, std::string where,
                 std::chrono::milliseconds receive_timeout)
      : root_(std::move(root)),
        connection_(std::move(connection)),
        request_(std::move(request)),
        announced_(announced),
        where_(std::move(where)),
        receive_timeout_(receive_timeout) {}

  Status Write(std::string_view piece) override {
    if (finished_)
      return Status::Error(ErrorKind::Other, "write after the request ended: " + where_);
    if (piece.size() > announced_ - written_) {
      return Status::Error(ErrorKind::Other, "body longer than the announced length: " + where_);
    }
    while (!piece.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min(piece.size(), kMaxChunk));
      DWORD done = 0;
      if (!InternetWriteFile(request_.get(), piece.data(), chunk, &done)) {
        return ErrorStatus(GetLastError(), where_);
      }
      if (done == 0)
        return Status::Error(ErrorKind::Network, "connection closed while sending: " + where_);
      written_ += done;
      piece.remove_prefix(done);
    }
    return Status::Ok();
  }

  Status Finish() override {
    if (finished_) return Status::Error(ErrorKind::Other, "request already ended: " + where_);
    if (written_ != announced_) {
      return Status::Error(ErrorKind::Other, "body shorter than the announced length: " + where_);
    }
    finished_ = true;
    const auto waiting = std::chrono::steady_clock::now();
    if (!HttpEndRequestW(request_.get(), nullptr, 0, 0)) return ErrorStatus(GetLastError(), where_);
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr)) {
      return ErrorStatus(GetLastError(), where_);
    }
    if (status == 0) return NoReply(std::chrono::steady_clock::now() - waiting);
    status_ = static_cast<int>(status);
    return Status::Ok();
  }

  Result<std::size_t> Read(char* buffer, std::size_t capacity) override {
    if (status_ == 0) return Status::Error(ErrorKind::Other, "no reply to read: " + where_);
    DWORD got = 0;
    if (!InternetReadFile(request_.get(), buffer, static_cast<DWORD>(std::min(capacity, kMaxChunk)),
                          &got)) {
      return ErrorStatus(GetLastError(), where_);
    }
    return static_cast<std::size_t>(got);
  }

  int StatusCode() const override { return status_; }

 private:
  // Wine's HttpEndRequestW succeeds when no reply head came, the receive
  // time-out included, and the status then reads 0. How long it waited
  // tells a time-out from a connection closed without a reply.
  Status NoReply(std::chrono::steady_clock::duration waited) const {
    if (waited >= receive_timeout_ * 9 / 10) return ErrorStatus(ERROR_INTERNET_TIMEOUT, where_);
    return Status::Error(ErrorKind::Network, "no reply from " + where_,
                         ERROR_HTTP_HEADER_NOT_FOUND);
  }

  // Declared root first: members close in reverse, the request first.
  ScopedInternetHandle root_;
  ScopedInternetHandle connection_;
  ScopedInternetHandle request_;
  std::uint64_t announced_;
  std::uint64_t written_ = 0;
  std::string where_;
  std::chrono::milliseconds receive_timeout_;
  bool finished_ = false;
  int status_ = 0;
};

class WinInetTransport final : public HttpTransport {
 public:
  explicit WinInetTransport(HttpOptions options) : options_(std::move(options)) {}

  Result<std::unique_ptr<HttpRequest>> StartPost(const HttpTarget& target, std::string_view headers,
                                                std::uint64_t content_length) override {
    const std::string where = HostPort(target);
    if (target.port <= 0 || target.port > 65535) {
      return Status::Error(ErrorKind::Other, "invalid port: " + where);
    }
    // HttpSendRequestExW announces the length as a DWORD.
    if (content_length > std::numeric_limits<DWORD>::max()) {
      return Status::Error(ErrorKind::Other, "body too long for one request: " + where);
    }

    ScopedInternetHandle root(InternetOpenW(Widen(options_.agent).c_str(),
                                            INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root) return ErrorStatus(GetLastError(), where);
    if (Status s = SetTimeouts(root.get(), options_, where); !s) return s;

    ScopedInternetHandle connection(InternetConnectW(
        root.get(), Widen(target.host).c_str(), static_cast<INTERNET_PORT>(target.port), nullptr,
        nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return ErrorStatus(GetLastError(), where);
    if (Status s = SetTimeouts(connection.get(), options_, where); !s) return s;

    // A redirect is no answer (libcurl does not follow one either).
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (target.secure) flags |= INTERNET_FLAG_SECURE;
    ScopedInternetHandle request(HttpOpenRequestW(connection.get(), L"POST",
                                                  Widen(target.path).c_str(), nullptr, nullptr,
                                                  nullptr, flags, 0));
    if (!request) return ErrorStatus(GetLastError(), where);

    if (!headers.empty()) {
      const std::wstring lines = Widen(headers);
      if (!HttpAddRequestHeadersW(request.get(), lines.c_str(), static_cast<DWORD>(lines.size()),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE)) {
        return ErrorStatus(GetLastError(), where);
      }
    }

    // Connects and sends the head; the body follows through Write.
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(content_length);
    if (!HttpSendRequestExW(request.get(), &buffers, nullptr, 0, 0)) {
      return ErrorStatus(GetLastError(), where);
    }
    return std::unique_ptr<HttpRequest>(std::make_unique<WinInetRequest>(
        std::move(root), std::move(connection), std::move(request), content_length, where,
        options_.receive_timeout));
  }

 private:
  HttpOptions options_;
};

}  // namespace

std::unique_ptr<HttpTransport> MakeSystemHttpTransport(const HttpOptions& options) {
  return std::make_unique<WinInetTransport>(options);
}

}  // namespace kv::platform
