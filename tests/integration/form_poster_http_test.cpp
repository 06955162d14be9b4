// The client's form poster and answer path through WinINet under Wine,
// against the native test server (KV_TEST_HTTP, see http_exchange.h).
#include <gtest/gtest.h>

#include <chrono>

#include "http_server/form_cases.h"
#include "http_server/http_exchange.h"
#include "platform/http_transport.h"
#include "service/form_poster.h"
#include "service/requests.h"

namespace kv::service {
namespace {

using Clock = std::chrono::steady_clock;
using platform::ErrorKind;

// The /echo reply: the head lines, an empty line, then the body.
struct Echo {
  std::string head;
  std::string body;
};
Echo ReadEcho(FormPoster& form) {
  std::string all;
  char buffer[777];
  for (;;) {
    auto n = form.ReadBody(buffer, sizeof buffer);
    if (!n || *n == 0) break;
    all.append(buffer, *n);
  }
  const std::size_t split = all.find("\n\n");
  if (split == std::string::npos) return {all, ""};
  return {all.substr(0, split + 1), all.substr(split + 2)};
}

class FormPosterWinInetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto peer = http_test::PeerFromEnvironment();
    if (!peer) GTEST_SKIP() << http_test::kNoPeerHint;
    peer_ = *peer;
  }
  app::ServiceEndpoint Endpoint(int port) const { return {"http", peer_.host, port}; }

  http_test::Peer peer_;
};

TEST_F(FormPosterWinInetTest, BothEncodingsArriveByteForByte) {
  auto http = platform::MakeSystemHttpTransport();
  {
    FormPoster form(*http);
    http_test::FillMultipart(form);
    ASSERT_TRUE(form.PostMultipart(Endpoint(peer_.http), "/echo?mode=add_programs"));
    const Echo echo = ReadEcho(form);
    const std::string expected = http_test::ExpectedMultipart();
    EXPECT_EQ(echo.head, "POST /echo?mode=add_programs\n"
                         "Content-Type: multipart/form-data; boundary=" +
                             std::string(kMultipartBoundary) + "\n"
                             "Content-Length: " + std::to_string(expected.size()) + "\n"
                             "User-Agent: KV\n"
                             "Transfer-Encoding: \n");
    EXPECT_TRUE(echo.body == expected) << "the multipart body arrived changed";
  }
  {
    FormPoster form(*http);
    http_test::FillUrlEncoded(form);
    ASSERT_TRUE(form.PostUrlEncoded(Endpoint(peer_.http), "/echo?mode=add_comment"));
    const Echo echo = ReadEcho(form);
    const std::string expected = http_test::ExpectedUrlEncoded();
    EXPECT_EQ(echo.head, "POST /echo?mode=add_comment\n"
                         "Content-Type: application/x-www-form-urlencoded\n"
                         "Content-Length: " + std::to_string(expected.size()) + "\n"
                         "User-Agent: KV\n"
                         "Transfer-Encoding: \n");
    EXPECT_EQ(echo.body, expected);
  }
}

TEST_F(FormPosterWinInetTest, RequestsEndAsNetworkFailuresInTime) {
  auto http = platform::MakeSystemHttpTransport(http_test::Impatient());
  auto exchange = [&](int port, RequestOutcome& outcome) {
    return http_test::CheckUpdatesAt(*http, Endpoint(port), outcome);
  };

  RequestOutcome refused;
  auto start = Clock::now();
  EXPECT_FALSE(exchange(peer_.refused, refused));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(refused.kind(), OutcomeKind::NetworkFailure);
  EXPECT_TRUE(refused.network_reason().Is(ErrorKind::Network)) << refused.network_reason().ToString();

  RequestOutcome silent;
  start = Clock::now();
  EXPECT_FALSE(exchange(peer_.silent, silent));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(silent.kind(), OutcomeKind::NetworkFailure);
  EXPECT_TRUE(silent.network_reason().Is(ErrorKind::Timeout)) << silent.network_reason().ToString();

  RequestOutcome echoed;
  EXPECT_FALSE(exchange(peer_.http, echoed));
  EXPECT_EQ(echoed.ResultCode(), AnswerCode::InvalidAnswer);
}

}  // namespace
}  // namespace kv::service
