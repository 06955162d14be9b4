// korvan-service over HTTPS with a certificate of a test authority: the
// client's libcurl transport talks to it when it trusts that authority, and
// refuses it otherwise.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "korvan_service.h"
#include "platform/http_transport.h"
#include "service/requests.h"
#include "test_authority.h"

namespace kv::server {
namespace {

namespace fs = std::filesystem;

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvtlsXXXXXX";
    dir_ = mkdtemp(tmpl);
    ASSERT_TRUE(authority_.ok());
    const PemPair server = authority_.IssueServer({"127.0.0.1", "localhost"});
    ASSERT_FALSE(server.certificate.empty());
    Write("ca.pem", authority_.certificate_pem());
    Write("server.pem", server.certificate);
    Write("server.key", server.key);
  }
  void TearDown() override {
    service_.reset();
    fs::remove_all(dir_);
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  Result<std::unique_ptr<KorvanService>> Serve(const std::string& cert, const std::string& key) {
    ServeOptions o;
    o.database = dir_ + "/korvan.db";
    o.port = 0;
    o.credential_cost = CredentialCost::Cheapest();
    o.tls_cert = cert;
    o.tls_key = key;
    return KorvanService::Start(o);
  }
  // A guest account asked for over the given scheme, trusting `ca_file`.
  service::RequestOutcome AskForGuest(const std::string& scheme, const std::string& ca_file) {
    platform::HttpOptions options;
    options.ca_file = ca_file;
    auto http = platform::MakeSystemHttpTransport(options);
    app::ServiceConfig config;
    config.site = config.upload = {scheme, "127.0.0.1", service_->port()};
    service::ServiceConnection connection(*http, config);
    service::FormPoster form(*http);
    form.AddField("client_build", "17");
    form.AddField("GUID", std::string(32, 'C'));
    service::RequestOutcome outcome;
    connection.Exchange(service::RequestMode::AddGuest, form, outcome);
    return outcome;
  }

  std::string dir_;
  TestAuthority authority_{"Korvan Test Authority"};
  std::unique_ptr<KorvanService> service_;
};

TEST_F(TlsTest, TrustedByItsAuthorityOnly) {
  auto s = Serve(dir_ + "/server.pem", dir_ + "/server.key");
  ASSERT_TRUE(s) << s.status().ToString();
  service_ = std::move(s).value();

  const service::RequestOutcome trusted = AskForGuest("https", dir_ + "/ca.pem");
  EXPECT_TRUE(trusted.succeeded()) << trusted.Text() << " " << trusted.network_reason().ToString();

  // Another authority, or none but the system's: the certificate is refused.
  TestAuthority stranger("Someone Else");
  Write("other.pem", stranger.certificate_pem());
  for (const std::string& ca : {dir_ + "/other.pem", std::string()}) {
    const service::RequestOutcome refused = AskForGuest("https", ca);
    EXPECT_EQ(refused.kind(), service::OutcomeKind::NetworkFailure) << ca;
    EXPECT_NE(refused.network_reason().ToString().find("certificate"), std::string::npos)
        << refused.network_reason().ToString();
  }
  // Plain HTTP gets no answer from an HTTPS port.
  EXPECT_FALSE(AskForGuest("http", "").succeeded());
}

TEST_F(TlsTest, AKeyThatDoesNotFitTheCertificateIsAnError) {
  const PemPair other = authority_.IssueServer({"127.0.0.1"});
  Write("other.key", other.key);
  for (const auto& [cert, key] :
       {std::pair{dir_ + "/server.pem", dir_ + "/other.key"},
        std::pair{dir_ + "/missing.pem", dir_ + "/server.key"}}) {
    auto s = Serve(cert, key);
    ASSERT_FALSE(s) << cert << " " << key;
    EXPECT_NE(s.status().message().find("certificate"), std::string::npos) << s.status().ToString();
  }
}

}  // namespace
}  // namespace kv::server
