#pragma once
// korvan-service on a free loopback port, over a fresh database in a folder
// of its own that goes with it, reached through the client's requester code.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "korvan_service.h"
#include "platform/http_transport.h"
#include "service/requests.h"

namespace kv::server {

class LoopbackService {
 public:
  // Call with ASSERT_NO_FATAL_FAILURE: a service that does not start fails the test.
  void Start(ServiceOptions service = {}) {
    char tmpl[] = "/tmp/kvloopXXXXXX";
    dir_ = mkdtemp(tmpl);
    ServeOptions o;
    o.database = database();
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
  ~LoopbackService() {
    service_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string database() const { return dir_ + "/korvan.db"; }
  // What the database holds, read beside the service: the rows of `sql`
  // joined by "|", their columns by ",".
  std::string Query(const std::string& sql) const {
    sqlite3* db = nullptr;
    std::string out;
    sqlite3_open(database().c_str(), &db);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr);
    while (q && sqlite3_step(q) == SQLITE_ROW) {
      if (!out.empty()) out += "|";
      for (int i = 0; i < sqlite3_column_count(q); ++i) {
        if (i) out += ",";
        if (const unsigned char* t = sqlite3_column_text(q, i)) out += reinterpret_cast<const char*>(t);
      }
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    return out;
  }
  KorvanService& service() { return *service_; }
  platform::HttpTransport& http() { return *http_; }
  service::ServiceConnection& connection() { return *connection_; }

 private:
  std::string dir_;
  std::unique_ptr<platform::HttpTransport> http_ = platform::MakeSystemHttpTransport();
  std::unique_ptr<KorvanService> service_;
  std::unique_ptr<service::ServiceConnection> connection_;
};

}  // namespace kv::server
