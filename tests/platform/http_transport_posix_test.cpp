// The libcurl transport against a real HTTP server in the test process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "http_server/http_exchange.h"
#include "http_server/http_test_server.h"
#include "platform/http_transport.h"

namespace kv::platform {
namespace {

using http_test::BinaryBody;
using http_test::HttpTestServer;
using http_test::PostThrough;

class CurlTransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Loopback must never go through a proxy of the environment.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY"}) {
      unsetenv(name);
    }
  }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }

  HttpTarget At(const std::string& path, int port = 0) const {
    return HttpTarget{false, "127.0.0.1", port != 0 ? port : server_.http_port(), path};
  }

  static HttpOptions Impatient() { return http_test::Impatient(1000); }

  HttpTestServer server_;
};

TEST_F(CurlTransportTest, BodyHeadersAndAgentArriveExactly) {
  auto transport = MakeSystemHttpTransport();
  const std::string body = BinaryBody(5000);
  ASSERT_NE(body.find('\0'), std::string::npos);
  ASSERT_NE(body.find('\xE9'), std::string::npos);

  // Pieces of 1 byte up to a few hundred, as the protocol writer makes them.
  auto request = transport->StartPost(
      At("/echo?mode=get_id&x=1"),
      "Content-Type: application/x-kv\r\nX-Kv-Test: one two\r\n", body.size());
  ASSERT_TRUE(request) << request.status().ToString();
  for (std::size_t at = 0, piece = 1; at < body.size(); at += piece, piece = piece * 3 % 701 + 1) {
    ASSERT_TRUE(request->Write(std::string_view(body).substr(at, piece)));
  }
  ASSERT_TRUE(request->Finish());
  EXPECT_EQ(request->StatusCode(), 200);

  ASSERT_EQ(server_.requests().size(), 1u);
  const http_test::ReceivedRequest got = server_.requests()[0];
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.target, "/echo?mode=get_id&x=1");
  EXPECT_TRUE(got.body == body) << "the body arrived changed";
  EXPECT_EQ(got.Header("Content-Length"), "5000");
  EXPECT_EQ(got.Header("Content-Type"), "application/x-kv");
  EXPECT_EQ(got.Header("X-Kv-Test"), "one two");
  EXPECT_EQ(got.Header("User-Agent"), "KV");
  EXPECT_FALSE(got.HasHeader("Transfer-Encoding"));
  EXPECT_FALSE(got.HasHeader("Expect")) << "no wait for 100-continue";

  // The echo reads back through small reads, byte for byte.
  std::string reply;
  char buffer[333];
  for (;;) {
    auto n = request->Read(buffer, sizeof buffer);
    ASSERT_TRUE(n) << n.status().ToString();
    if (*n == 0) break;
    reply.append(buffer, *n);
  }
  EXPECT_TRUE(reply == http_test::EchoBody(got));
  EXPECT_EQ(request->Read(buffer, sizeof buffer), 0u) << "the end stays the end";
}

TEST_F(CurlTransportTest, EmptyBodyAndOtherAgentArrive) {
  HttpOptions options;
  options.agent = "KV-test/2";
  auto transport = MakeSystemHttpTransport(options);
  const auto done = PostThrough(*transport, At("/echo"), "", "");
  ASSERT_TRUE(done.status) << done.failed_at << ": " << done.status.ToString();
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].Header("Content-Length"), "0");
  EXPECT_EQ(server_.requests()[0].Header("User-Agent"), "KV-test/2");
  EXPECT_EQ(server_.requests()[0].body, "");
}

TEST_F(CurlTransportTest, LargeReplyReadsBackIdenticalInSmallReads) {
  auto transport = MakeSystemHttpTransport();
  const auto done = PostThrough(*transport, At("/bytes/100000"), "", "x", 1, 777);
  ASSERT_TRUE(done.status) << done.failed_at << ": " << done.status.ToString();
  EXPECT_EQ(done.code, 200);
  ASSERT_EQ(done.reply.size(), 100000u);
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < done.reply.size(); ++i)
    wrong += done.reply[i] != http_test::PatternByte(i);
  EXPECT_EQ(wrong, 0u);
}

TEST_F(CurlTransportTest, OtherStatusesAreSuccessfulExchangesWithABody) {
  auto transport = MakeSystemHttpTransport();
  for (int code : {201, 404, 500, 503}) {
    const auto done = PostThrough(*transport, At("/status/" + std::to_string(code)), "", "q=1");
    ASSERT_TRUE(done.status) << code << " " << done.failed_at << ": " << done.status.ToString();
    EXPECT_EQ(done.code, code);
    EXPECT_EQ(done.reply, "status " + std::to_string(code) + "\n");
  }
}

// The client posts from worker threads through one transport.
TEST_F(CurlTransportTest, ConcurrentRequestsThroughOneTransportStayApart) {
  auto transport = MakeSystemHttpTransport();
  std::vector<http_test::HttpExchange> results(6);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] {
      results[i] = PostThrough(*transport, At("/echo/" + std::to_string(i)), "",
                               std::string(1000 + i, static_cast<char>('a' + i)), 100);
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < results.size(); ++i) {
    ASSERT_TRUE(results[i].status) << i << ": " << results[i].status.ToString();
    const std::string body(1000 + i, static_cast<char>('a' + i));
    const std::string first_line = "POST /echo/" + std::to_string(i) + "\n";
    EXPECT_EQ(results[i].reply.substr(0, first_line.size()), first_line);
    EXPECT_TRUE(
        results[i].reply.size() > body.size() &&
        results[i].reply.compare(results[i].reply.size() - body.size(), body.size(), body) == 0)
        << i;
  }
  EXPECT_EQ(server_.requests().size(), results.size());
}

TEST_F(CurlTransportTest, TheAnnouncedLengthIsEnforcedAndMisuseFails) {
  auto transport = MakeSystemHttpTransport();

  auto longer = transport->StartPost(At("/echo"), "", 4);
  ASSERT_TRUE(longer);
  char buffer[16];
  EXPECT_FALSE(longer->Read(buffer, sizeof buffer)) << "nothing to read before Finish";
  EXPECT_TRUE(longer->Write("abc"));
  const Status over = longer->Write("de");
  EXPECT_FALSE(over);
  EXPECT_NE(over.message().find("longer than the announced"), std::string::npos) << over.ToString();
  EXPECT_TRUE(longer->Write("d")) << "the refused piece wrote nothing";
  EXPECT_TRUE(longer->Finish());
  EXPECT_FALSE(longer->Finish()) << "a second Finish";
  EXPECT_FALSE(longer->Write("")) << "a write after Finish";

  auto shorter = transport->StartPost(At("/echo"), "", 10);
  ASSERT_TRUE(shorter);
  EXPECT_TRUE(shorter->Write("12345"));
  const Status under = shorter->Finish();
  EXPECT_FALSE(under);
  EXPECT_NE(under.message().find("shorter than the announced"), std::string::npos)
      << under.ToString();
  EXPECT_EQ(shorter->StatusCode(), 0);

  ASSERT_TRUE(server_.WaitForRequests(1, std::chrono::seconds(5)));
  ASSERT_EQ(server_.requests().size(), 1u) << "a short body is never sent";
  EXPECT_EQ(server_.requests()[0].body, "abcd");
}

TEST_F(CurlTransportTest, ARefusedConnectionIsANetworkFailureNamingThePeer) {
  auto transport = MakeSystemHttpTransport();
  const auto refused = PostThrough(*transport, At("/echo", server_.refused_port()), "", "x");
  EXPECT_TRUE(refused.status.Is(ErrorKind::Network)) << refused.status.ToString();
  EXPECT_NE(refused.status.ToString().find("connection refused: 127.0.0.1:" +
                                           std::to_string(server_.refused_port())),
            std::string::npos)
      << refused.status.ToString();

  // An IPv6 literal goes into the URL in brackets (nothing listens there).
  const auto v6 =
      PostThrough(*transport, HttpTarget{false, "::1", server_.refused_port(), "/"}, "", "");
  EXPECT_TRUE(v6.status.Is(ErrorKind::Network)) << v6.status.ToString();
  EXPECT_NE(v6.status.ToString().find("[::1]:"), std::string::npos) << v6.status.ToString();
}

TEST_F(CurlTransportTest, APeerThatNeverAnswersEndsAsATimeout) {
  auto transport = MakeSystemHttpTransport(Impatient());
  // A server that read the request, and one that accepted and reads nothing.
  for (const HttpTarget& target : {At("/hang"), At("/echo", server_.silent_port())}) {
    const auto done = PostThrough(*transport, target, "", BinaryBody(3000));
    EXPECT_TRUE(done.status.Is(ErrorKind::Timeout)) << target.port << " " << done.status.ToString();
    EXPECT_NE(done.status.ToString().find("timed out"), std::string::npos);
  }
}

TEST_F(CurlTransportTest, HttpsToAPlainHttpPortFailsInsteadOfHanging) {
  auto transport = MakeSystemHttpTransport(Impatient());
  HttpTarget target = At("/echo");
  target.secure = true;
  const auto done = PostThrough(*transport, target, "", "x");
  EXPECT_TRUE(done.status.Is(ErrorKind::Network)) << done.status.ToString();
  EXPECT_NE(done.status.ToString().find("secure connection failed"), std::string::npos)
      << done.status.ToString();
}

TEST_F(CurlTransportTest, CertificatesAreVerifiedAndACaFileCanTrustOne) {
  const HttpTarget target{true, "127.0.0.1", server_.https_port(), "/echo"};
  const auto untrusted = PostThrough(*MakeSystemHttpTransport(), target, "", "x");
  EXPECT_TRUE(untrusted.status.Is(ErrorKind::Network)) << untrusted.status.ToString();
  EXPECT_NE(untrusted.status.ToString().find("certificate not trusted: 127.0.0.1:"),
            std::string::npos)
      << untrusted.status.ToString();

  const std::string ca_file = ::testing::TempDir() + "kv_http_test_ca.pem";
  std::ofstream(ca_file, std::ios::binary) << server_.certificate_pem();
  HttpOptions trusting;
  trusting.ca_file = ca_file;
  auto transport = MakeSystemHttpTransport(trusting);
  const auto trusted = PostThrough(*transport, target, "", "over TLS");
  ASSERT_TRUE(trusted.status) << trusted.failed_at << ": " << trusted.status.ToString();
  EXPECT_EQ(trusted.code, 200);
  EXPECT_EQ(trusted.reply.substr(trusted.reply.size() - 8), "over TLS");
  ASSERT_EQ(server_.requests().size(), 1u) << "the untrusted request never got through";

  // A trusted certificate for another name is no better.
  const auto other_name = PostThrough(
      *transport, HttpTarget{true, "localhost", server_.https_port(), "/echo"}, "", "x");
  EXPECT_TRUE(other_name.status.Is(ErrorKind::Network)) << other_name.status.ToString();
  EXPECT_NE(other_name.status.ToString().find("certificate not trusted"), std::string::npos)
      << other_name.status.ToString();

  HttpOptions missing;
  missing.ca_file = ::testing::TempDir() + "kv_no_such_ca.pem";
  const auto unreadable = PostThrough(*MakeSystemHttpTransport(missing), target, "", "x");
  EXPECT_TRUE(unreadable.status.Is(ErrorKind::Other)) << unreadable.status.ToString();
  EXPECT_NE(unreadable.status.ToString().find(missing.ca_file), std::string::npos)
      << unreadable.status.ToString();
  std::remove(ca_file.c_str());
}

}  // namespace
}  // namespace kv::platform
