#pragma once
// korvan-service on a free loopback port, over a fresh database that goes
// with it, reached through the client's requester code.
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "korvan_service.h"
#include "platform/http_transport.h"
#include "service/requests.h"
#include "test_database.h"

namespace kv::server {

class LoopbackService {
 public:
  // Call with ASSERT_NO_FATAL_FAILURE: a service that does not start fails the test.
  void Start(ServiceOptions service = {}) {
    ServeOptions o;
    o.database = database_.address();
    o.port = 0;
    o.credential_cost = CredentialCost::Cheapest();
    o.starting_catalogue = "";
    o.service = std::move(service);
    auto s = KorvanService::Start(o);
    ASSERT_TRUE(s) << s.status().ToString();
    service_ = std::move(s).value();
    app::ServiceConfig config;
    config.site = config.upload = {"http", "127.0.0.1", service_->port()};
    connection_ = std::make_unique<service::ServiceConnection>(*http_, config);
  }
  ~LoopbackService() { service_.reset(); }  // before its database goes

  const TestDatabase& database() const { return database_; }
  // What the database holds, read beside the service (TestDatabase::Query).
  std::string Query(const std::string& sql) const { return database_.Query(sql); }
  KorvanService& service() { return *service_; }
  platform::HttpTransport& http() { return *http_; }
  service::ServiceConnection& connection() { return *connection_; }

 private:
  TestDatabase database_;
  std::unique_ptr<platform::HttpTransport> http_ = platform::MakeSystemHttpTransport();
  std::unique_ptr<KorvanService> service_;
  std::unique_ptr<service::ServiceConnection> connection_;
};

}  // namespace kv::server
