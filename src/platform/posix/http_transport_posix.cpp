// The HTTP port on libcurl. libcurl pulls the body itself, so the written
// pieces are kept and the whole exchange runs at Finish, the reply kept in
// memory for Read. Peer and host are always verified; the proxy comes from
// the environment as for any other program.
#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/http_transport.h"

namespace kv::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Reserved up front at most; a larger body grows as it is written.
constexpr std::uint64_t kMaxReserve = 16u << 20;

std::string HostPort(const HttpTarget& target) {
  const bool ipv6 = target.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + target.host + "]" : target.host) + ":" + std::to_string(target.port);
}

// curl_global_init is not safe to race; the first transport does it once.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

struct EasyCloser {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCloser>;
using HeaderList = std::unique_ptr<curl_slist, ListCloser>;

// libcurl has a connect time-out but none for a peer that stops moving data
// (its low-speed check averages over seconds, so it would fire late). This
// watches the byte counts: no progress for the send time-out while the body
// goes out, or for the receive time-out after it, ends the transfer.
struct StallWatch {
  CURL* easy = nullptr;
  std::chrono::milliseconds send_limit;
  std::chrono::milliseconds receive_limit;
  Clock::time_point since = Clock::now();
  curl_off_t up = -1;
  curl_off_t down = -1;
  bool stalled = false;

  static int OnProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t ultotal,
                        curl_off_t ulnow) {
    auto& w = *static_cast<StallWatch*>(self);
    const Clock::time_point now = Clock::now();
    // Connecting (TLS included) is the connect time-out's business.
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(w.easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    if (pretransfer == 0 || ulnow != w.up || dlnow != w.down) {
      w.up = ulnow;
      w.down = dlnow;
      w.since = now;
      return 0;
    }
    const auto limit = ulnow < ultotal ? w.send_limit : w.receive_limit;
    if (now - w.since < limit) return 0;
    w.stalled = true;
    return 1;  // aborts the transfer
  }
};

struct ReplySink {
  std::string* reply;
  std::size_t limit;
  bool over = false;
};

size_t AppendReply(char* data, size_t size, size_t count, void* sink_ptr) {
  auto* sink = static_cast<ReplySink*>(sink_ptr);
  if (sink->reply->size() + size * count > sink->limit) {
    sink->over = true;
    return 0;  // ends the transfer
  }
  sink->reply->append(data, size * count);
  return size * count;
}

// A curl failure as the activity log should read it.
Status CurlStatus(CURLcode rc, CURL* easy, const char* detail, const std::string& where,
                  const HttpOptions& options) {
  const auto code = static_cast<std::uint32_t>(rc);
  const std::string text = detail[0] != '\0' ? detail : curl_easy_strerror(rc);
  switch (rc) {
    case CURLE_COULDNT_CONNECT: {
      long os_error = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_error);
      if (os_error == ECONNREFUSED) {
        return Status::Error(ErrorKind::Network, "connection refused: " + where, code);
      }
      return Status::Error(ErrorKind::Network, "cannot connect: " + where + " (" + text + ")",
                           code);
    }
    case CURLE_OPERATION_TIMEDOUT:
      return Status::Error(ErrorKind::Timeout, "no answer from " + where, code);
    case CURLE_COULDNT_RESOLVE_HOST:
      return Status::Error(ErrorKind::Network, "host not found: " + where, code);
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Status::Error(ErrorKind::Network, "proxy not found: " + text, code);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return Status::Error(ErrorKind::Network,
                           "certificate not trusted: " + where + " (" + text + ")", code);
    case CURLE_SSL_CACERT_BADFILE:
      return Status::Error(ErrorKind::Other,
                           "cannot read the certificate authorities: " +
                               (options.ca_file.empty() ? std::string("the system's") : options.ca_file),
                           code);
    case CURLE_SSL_CONNECT_ERROR:
      return Status::Error(ErrorKind::Network,
                           "secure connection failed: " + where + " (" + text + ")", code);
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
      return Status::Error(ErrorKind::Network, "connection broken: " + where + " (" + text + ")",
                           code);
    case CURLE_OUT_OF_MEMORY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_BAD_FUNCTION_ARGUMENT:
      return Status::Error(ErrorKind::Other, where + " (" + text + ")", code);
    default:
      return Status::Error(ErrorKind::Network, where + " (" + text + ")", code);
  }
}

class CurlRequest final : public HttpRequest {
 public:
  CurlRequest(const HttpOptions& options, const HttpTarget& target, std::string_view headers,
              std::uint64_t announced)
      : options_(options), target_(target), headers_(headers), announced_(announced),
        where_(HostPort(target)) {
    body_.reserve(static_cast<std::size_t>(std::min(announced, kMaxReserve)));
  }

  Status Write(std::string_view piece) override {
    if (finished_)
      return Status::Error(ErrorKind::Other, "write after the request ended: " + where_);
    if (piece.size() > announced_ - body_.size()) {
      return Status::Error(ErrorKind::Other, "body longer than the announced length: " + where_);
    }
    body_.append(piece);
    return Status::Ok();
  }

  Status Finish() override {
    if (finished_) return Status::Error(ErrorKind::Other, "request already ended: " + where_);
    if (body_.size() != announced_) {
      return Status::Error(ErrorKind::Other, "body shorter than the announced length: " + where_);
    }
    finished_ = true;
    Status done = Perform();
    body_ = std::string();
    return done;
  }

  Result<std::size_t> Read(char* buffer, std::size_t capacity) override {
    if (status_ == 0) return Status::Error(ErrorKind::Other, "no reply to read: " + where_);
    const std::size_t n = std::min(capacity, reply_.size() - offset_);
    if (n != 0) std::memcpy(buffer, reply_.data() + offset_, n);
    offset_ += n;
    return n;
  }

  int StatusCode() const override { return status_; }

 private:
  Status Perform() {
    EasyHandle easy(curl_easy_init());
    if (!easy) return Status::Error(ErrorKind::Other, "cannot start libcurl: " + where_);
    CURL* e = easy.get();

    // Every header line as given, and "Expect:" so that a body over 1 KiB
    // goes out at once instead of after a wait for "100 Continue".
    curl_slist* raw = nullptr;
    std::string_view rest = headers_;
    while (!rest.empty()) {
      const std::size_t end = rest.find("\r\n");
      const std::string line(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
      if (!line.empty()) raw = curl_slist_append(raw, line.c_str());
    }
    raw = curl_slist_append(raw, "Expect:");
    HeaderList header_list(raw);

    const std::string url = (target_.secure ? "https://" : "http://") + where_ + target_.path;
    char detail[CURL_ERROR_SIZE] = {};
    StallWatch watch{e, options_.send_timeout, options_.receive_timeout};

    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, detail);
    // Time-outs without SIGALRM: the client runs requests on worker threads.
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body_.data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(announced_));
    curl_easy_setopt(e, CURLOPT_USERAGENT, options_.agent.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, header_list.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &AppendReply);
    ReplySink sink{&reply_, options_.max_reply};
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     std::max<long>(1, static_cast<long>(options_.connect_timeout.count())));
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &StallWatch::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options_.ca_file.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, options_.ca_file.c_str());

    const CURLcode rc = curl_easy_perform(e);
    if (rc == CURLE_ABORTED_BY_CALLBACK && watch.stalled) {
      return Status::Error(ErrorKind::Timeout, "no answer from " + where_,
                           static_cast<std::uint32_t>(CURLE_OPERATION_TIMEDOUT));
    }
    if (rc == CURLE_WRITE_ERROR && sink.over) {
      return Status::Error(ErrorKind::Corrupt, "reply longer than " +
                                                   std::to_string(options_.max_reply) +
                                                   " bytes from " + where_);
    }
    if (rc != CURLE_OK) return CurlStatus(rc, e, detail, where_, options_);
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    if (status <= 0) return Status::Error(ErrorKind::Network, "no reply from " + where_);
    status_ = static_cast<int>(status);
    return Status::Ok();
  }

  HttpOptions options_;
  HttpTarget target_;
  std::string headers_;
  std::uint64_t announced_;
  std::string where_;
  std::string body_;
  bool finished_ = false;
  std::string reply_;
  std::size_t offset_ = 0;
  int status_ = 0;
};

class CurlTransport final : public HttpTransport {
 public:
  explicit CurlTransport(HttpOptions options) : options_(std::move(options)) {}

  Result<std::unique_ptr<HttpRequest>> StartPost(const HttpTarget& target, std::string_view headers,
                                                std::uint64_t content_length) override {
    if (!CurlReady()) return Status::Error(ErrorKind::Other, "libcurl could not be initialised");
    if (target.port <= 0 || target.port > 65535) {
      return Status::Error(ErrorKind::Other, "invalid port: " + HostPort(target));
    }
    // The body is held in memory until Finish.
    if (content_length > std::numeric_limits<std::size_t>::max() / 2) {
      return Status::Error(ErrorKind::Other, "body too long for one request: " + HostPort(target));
    }
    return std::unique_ptr<HttpRequest>(
        std::make_unique<CurlRequest>(options_, target, headers, content_length));
  }

 private:
  HttpOptions options_;
};

}  // namespace

std::unique_ptr<HttpTransport> MakeSystemHttpTransport(const HttpOptions& options) {
  return std::make_unique<CurlTransport>(options);
}

}  // namespace kv::platform
