#pragma once
// A fresh database for one test. Natively a SQLite file; when the test
// command started a PostgreSQL server for this run (KV_TEST_POSTGRES holds
// the address of its maintenance database), a new database on that server,
// dropped afterwards. Either way the service's own code opens it by
// address(), so the same tests run against both backends.
#include <string>

namespace kv::server {

class TestDatabase {
 public:
  TestDatabase();
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // What ServeOptions::database and OpenStorage take.
  const std::string& address() const { return address_; }
  bool is_postgres() const { return !name_.empty(); }
  // A folder of the test's own for other files; removed with it.
  const std::string& folder() const { return folder_; }

  // What the database holds, read beside the service: the rows of `sql`
  // joined by "|", their columns by ","; binary columns as their bytes and
  // truth values as 1 and 0, the same from either database.
  std::string Query(const std::string& sql) const;
  // Runs statements behind the service's back; false when they fail.
  bool Exec(const std::string& sql) const;

  // Whether this run tests PostgreSQL.
  static bool PostgresRun();

 private:
  std::string folder_;
  std::string name_;  // the PostgreSQL database's
  std::string address_;
};

}  // namespace kv::server
