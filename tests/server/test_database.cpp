#include "test_database.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace kv::server {
namespace {

constexpr Oid kBoolType = 16;
constexpr Oid kByteaType = 17;

const char* ServerAddress() {
  const char* address = std::getenv("KV_TEST_POSTGRES");
  return address && *address ? address : nullptr;
}

// The server's address with another database in place of its own:
// "postgresql://user@/postgres?host=..." -> "postgresql://user@/NAME?host=...".
std::string WithDatabase(const std::string& address, const std::string& name) {
  const std::size_t query = address.find('?');
  const std::size_t slash = address.rfind('/', query);
  return address.substr(0, slash + 1) + name + (query == std::string::npos ? "" : address.substr(query));
}

// Runs `sql` on the database at `address`; the rows as Query gives them.
bool RunOnPostgres(const std::string& address, const std::string& sql, std::string* rows) {
  PGconn* conn = PQconnectdb(address.c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (ok) {
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    PGresult* res = PQexec(conn, sql.c_str());
    ok = PQresultStatus(res) == PGRES_TUPLES_OK || PQresultStatus(res) == PGRES_COMMAND_OK;
    if (!ok) ADD_FAILURE() << sql << ": " << PQresultErrorMessage(res);
    for (int row = 0; ok && rows && row < PQntuples(res); ++row) {
      if (row) *rows += "|";
      for (int col = 0; col < PQnfields(res); ++col) {
        if (col) *rows += ",";
        const char* value = PQgetvalue(res, row, col);
        if (PQgetisnull(res, row, col)) continue;
        if (PQftype(res, col) == kBoolType) {
          *rows += *value == 't' ? "1" : "0";
        } else if (PQftype(res, col) == kByteaType) {
          std::size_t size = 0;
          unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(value), &size);
          rows->append(reinterpret_cast<const char*>(bytes), size);
          PQfreemem(bytes);
        } else {
          *rows += value;
        }
      }
    }
    PQclear(res);
  } else {
    ADD_FAILURE() << "cannot reach PostgreSQL at " << address << ": " << PQerrorMessage(conn);
  }
  PQfinish(conn);
  return ok;
}

}  // namespace

bool TestDatabase::PostgresRun() { return ServerAddress() != nullptr; }

TestDatabase::TestDatabase() {
  char tmpl[] = "/tmp/kvdbXXXXXX";
  folder_ = mkdtemp(tmpl);
  if (const char* server = ServerAddress()) {
    static std::atomic<int> counter{0};
    name_ = "kvt_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    RunOnPostgres(server, "CREATE DATABASE " + name_, nullptr);
    address_ = WithDatabase(server, name_);
  } else {
    address_ = folder_ + "/korvan.db";
  }
}

TestDatabase::~TestDatabase() {
  // FORCE: a service that was not stopped must not keep the database.
  if (const char* server = ServerAddress(); server && !name_.empty()) {
    RunOnPostgres(server, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)", nullptr);
  }
  std::filesystem::remove_all(folder_);
}

std::string TestDatabase::Query(const std::string& sql) const {
  std::string out;
  if (is_postgres()) {
    RunOnPostgres(address_, sql, &out);
    return out;
  }
  sqlite3* db = nullptr;
  sqlite3_open(address_.c_str(), &db);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr);
  for (int row = 0; q && sqlite3_step(q) == SQLITE_ROW; ++row) {
    if (row) out += "|";
    for (int i = 0; i < sqlite3_column_count(q); ++i) {
      if (i) out += ",";
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(q, i));
      if (bytes) out.append(bytes, static_cast<std::size_t>(sqlite3_column_bytes(q, i)));
    }
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return out;
}

bool TestDatabase::Exec(const std::string& sql) const {
  if (is_postgres()) return RunOnPostgres(address_, sql, nullptr);
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(address_.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

}  // namespace kv::server
