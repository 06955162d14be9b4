// The form poster and the answer path over real HTTP on loopback: libcurl
// against the test server in this process.
#include <gtest/gtest.h>

#include <chrono>

#include "http_server/form_cases.h"
#include "http_server/http_exchange.h"
#include "http_server/http_test_server.h"
#include "platform/http_transport.h"
#include "service/form_poster.h"
#include "service/requests.h"

namespace kv::service {
namespace {

using Clock = std::chrono::steady_clock;
using platform::ErrorKind;

class FormPosterHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }
  app::ServiceEndpoint Endpoint(int port) const { return {"http", "127.0.0.1", port}; }

  http_test::HttpTestServer server_;
};

TEST_F(FormPosterHttpTest, BothEncodingsArriveByteForByte) {
  auto http = platform::MakeSystemHttpTransport();
  {
    FormPoster form(*http);
    http_test::FillMultipart(form);
    std::string reply;
    ASSERT_TRUE(form.PostMultipart(Endpoint(server_.http_port()), "/echo?mode=add_programs"));
  }
  {
    FormPoster form(*http);
    http_test::FillUrlEncoded(form);
    ASSERT_TRUE(form.PostUrlEncoded(Endpoint(server_.http_port()), "/echo?mode=add_comment"));
  }
  const auto got = server_.requests();
  ASSERT_EQ(got.size(), 2u);
  const std::string multipart = http_test::ExpectedMultipart();
  EXPECT_TRUE(got[0].body == multipart) << "the multipart body arrived changed";
  EXPECT_EQ(got[0].Header("Content-Length"), std::to_string(multipart.size()));
  EXPECT_EQ(got[0].Header("Content-Type"),
            "multipart/form-data; boundary=" + std::string(kMultipartBoundary));
  EXPECT_EQ(got[0].Header("User-Agent"), "KV");
  EXPECT_EQ(got[0].target, "/echo?mode=add_programs");
  EXPECT_FALSE(got[0].HasHeader("Transfer-Encoding"));

  EXPECT_EQ(got[1].body, http_test::ExpectedUrlEncoded());
  EXPECT_EQ(got[1].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(got[1].Header("Content-Length"), std::to_string(got[1].body.size()));
}

TEST_F(FormPosterHttpTest, RequestsEndAsNetworkFailuresInTime) {
  auto http = platform::MakeSystemHttpTransport(http_test::Impatient());
  auto exchange = [&](int port, RequestOutcome& outcome) {
    return http_test::CheckUpdatesAt(*http, Endpoint(port), outcome);
  };

  RequestOutcome refused;
  auto start = Clock::now();
  EXPECT_FALSE(exchange(server_.refused_port(), refused));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));  // at once, not a time-out
  EXPECT_EQ(refused.kind(), OutcomeKind::NetworkFailure);
  EXPECT_TRUE(refused.network_reason().Is(ErrorKind::Network)) << refused.network_reason().ToString();

  RequestOutcome silent;
  start = Clock::now();
  EXPECT_FALSE(exchange(server_.silent_port(), silent));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(silent.kind(), OutcomeKind::NetworkFailure);
  EXPECT_TRUE(silent.network_reason().Is(ErrorKind::Timeout)) << silent.network_reason().ToString();

  // A server that answers something else than an answer archive.
  RequestOutcome echoed;
  EXPECT_FALSE(exchange(server_.http_port(), echoed));
  EXPECT_EQ(echoed.ResultCode(), AnswerCode::InvalidAnswer);
}

}  // namespace
}  // namespace kv::service
