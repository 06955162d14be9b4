// The program as an operator runs it: data committed before a SIGTERM is
// there after a restart, and a SIGKILL in the middle of a load loses at
// most the requests in flight and leaves a sound database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_transport.h"
#include "service/requests.h"
#include "service_process.h"
#include "storage/sqlite_storage.h"

namespace kv::server {
namespace {

namespace fs = std::filesystem;

// Asks for a guest account; true when the service answered with one.
// A machine identifier as clients make them, distinct for each (a, b).
std::string Guid(int a, int b) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X%024X", a, b);
  return text;
}

bool AddGuest(platform::HttpTransport& http, int port, const std::string& guid) {
  app::ServiceConfig config;
  config.site = config.upload = {"http", "127.0.0.1", port};
  service::ServiceConnection connection(http, config);
  service::FormPoster form(http);
  form.AddField("client_build", "17");
  form.AddField("GUID", guid);
  service::RequestOutcome outcome;
  return connection.Exchange(service::RequestMode::AddGuest, form, outcome).has_value();
}

std::int64_t Users(const std::string& db) {
  auto storage = OpenSqliteStorage(db);
  if (!storage) return -1;
  auto tx = storage->Begin(false);
  return tx ? tx->Counts().users : -1;
}

class RestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvrestartXXXXXX";
    dir_ = mkdtemp(tmpl);
    db_ = dir_ + "/korvan.db";
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_, db_;
  std::unique_ptr<platform::HttpTransport> http_ = platform::MakeSystemHttpTransport();
};

TEST_F(RestartTest, ATermSignalStopsCleanlyAndKeepsEverything) {
  {
    ServiceProcess service(db_);
    ASSERT_NE(service.port(), 0);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(AddGuest(*http_, service.port(), Guid(0, i)));
    const int status = service.Kill(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(Users(db_), 20);
  ServiceProcess again(db_);
  ASSERT_NE(again.port(), 0);
  EXPECT_TRUE(AddGuest(*http_, again.port(), std::string(32, 'E')));
}

TEST_F(RestartTest, AKillDuringALoadLosesOnlyWhatWasInFlight) {
  ServiceProcess service(db_);
  ASSERT_NE(service.port(), 0);
  std::atomic<int> answered{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      auto http = platform::MakeSystemHttpTransport();
      for (int i = 0; !stop; ++i) {
        if (AddGuest(*http, service.port(), Guid(t + 1, i))) ++answered;
        else break;
      }
    });
  }
  while (answered < 60) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  service.Kill(SIGKILL);
  stop = true;
  for (auto& c : clients) c.join();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
  std::string check;
  sqlite3_exec(db, "PRAGMA integrity_check", [](void* out, int, char** values, char**) {
    *static_cast<std::string*>(out) += values[0] ? values[0] : "";
    return 0;
  }, &check, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(check, "ok");
  // Every answered account is there; at most the few in flight beyond.
  const std::int64_t users = Users(db_);
  EXPECT_GE(users, answered.load());
  EXPECT_LE(users, answered.load() + 4);
}

}  // namespace
}  // namespace kv::server
