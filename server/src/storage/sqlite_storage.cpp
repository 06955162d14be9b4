#include "storage/sqlite_storage.h"

#include <sqlite3.h>

#include <mutex>
#include <unordered_map>

#include "storage/sql_transaction.h"

namespace kv::server {
namespace {

using platform::ErrorKind;

Status DbError(sqlite3* db, std::string_view what) {
  const int code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
  ErrorKind kind = ErrorKind::Other;
  switch (code & 0xFF) {
    case SQLITE_BUSY: case SQLITE_LOCKED: kind = ErrorKind::SharingViolation; break;
    case SQLITE_FULL: kind = ErrorKind::DiskFull; break;
    case SQLITE_CORRUPT: case SQLITE_NOTADB: kind = ErrorKind::Corrupt; break;
    case SQLITE_CANTOPEN: kind = ErrorKind::NotFound; break;
    case SQLITE_PERM: case SQLITE_READONLY: kind = ErrorKind::AccessDenied; break;
    case SQLITE_CONSTRAINT: kind = ErrorKind::AlreadyExists; break;
    default: break;
  }
  return Status::Error(kind, std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "no database"),
                       static_cast<std::uint32_t>(code));
}

class SqliteStatement final : public SqlStatement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  ~SqliteStatement() override { sqlite3_finalize(stmt_); }

  void Reset() override {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    n_ = 0;
    status_ = Status::Ok();
  }
  void BindInt(std::int64_t v) override { sqlite3_bind_int64(stmt_, ++n_, v); }
  void BindText(std::string_view v) override {
    sqlite3_bind_text(stmt_, ++n_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void BindBlob(std::string_view v) override {
    sqlite3_bind_blob(stmt_, ++n_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  bool Step() override {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) status_ = DbError(db_, "query");
    return false;
  }
  std::int64_t Int(int col) const override { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) const override {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : "";
  }
  const Status& status() const override { return status_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  int n_ = 0;
  Status status_;
};

// One connection and its prepared statements. Used by one thread at a time.
class Connection final : public SqlConnection {
 public:
  ~Connection() override {
    statements_.clear();
    sqlite3_close_v2(db_);
  }

  static Result<std::unique_ptr<Connection>> Open(const std::string& path) {
    auto c = std::unique_ptr<Connection>(new Connection);
    const int rc = sqlite3_open_v2(path.c_str(), &c->db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                       SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) return DbError(c->db_, "cannot open " + path);
    sqlite3_busy_timeout(c->db_, 5000);
    // WAL: readers never wait for the writer; NORMAL sync keeps every
    // committed transaction across a crash of the process (not of the OS).
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
                               "PRAGMA foreign_keys=ON"}) {
      if (Status s = c->Exec(pragma); !s) return s;
    }
    return c;
  }

  Status Exec(std::string_view sql) override {
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      Status s = DbError(db_, message ? message : "statement failed");
      sqlite3_free(message);
      return s;
    }
    return Status::Ok();
  }

  SqlStatement* Prepare(const char* sql, Status& status) override {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second.get();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      status = DbError(db_, "prepare");
      return nullptr;
    }
    auto owned = std::make_unique<SqliteStatement>(db_, stmt);
    SqlStatement* out = owned.get();
    statements_.emplace(sql, std::move(owned));
    return out;
  }

 private:
  Connection() = default;
  sqlite3* db_ = nullptr;
  std::unordered_map<const char*, std::unique_ptr<SqliteStatement>> statements_;
};

const SqlDialect kSqlite = {
    "SELECT " KV_PROGRAM_COLUMNS " FROM programs "
    "WHERE instr(lower(name), lower(?)) > 0 ORDER BY lower(name), id LIMIT ?",
    "WITH ids(pid) AS (SELECT DISTINCT value FROM json_each(?)) SELECT pid, " KV_COUNTERS_OF_PID
    " FROM ids",
    "SELECT program_id, version, is_beta, COUNT(DISTINCT user_id) FROM installs "
    "WHERE program_id IN (SELECT value FROM json_each(?)) GROUP BY program_id, version, is_beta",
    "[]",
};

class SqliteStorage;

class SqliteLease final : public SqlLease {
 public:
  SqliteLease(SqliteStorage& owner, Connection& c, std::unique_lock<std::mutex> write_lock)
      : owner_(owner), c_(c), write_lock_(std::move(write_lock)) {}
  ~SqliteLease() override;

 private:
  SqliteStorage& owner_;
  Connection& c_;
  std::unique_lock<std::mutex> write_lock_;
};

class SqliteStorage final : public Storage {
 public:
  explicit SqliteStorage(std::string path) : path_(std::move(path)) {}

  Status Open() {
    auto writer = Connection::Open(path_);
    if (!writer) return writer.status();
    writer_ = std::move(writer).value();
    return Migrate();
  }

  Result<std::unique_ptr<Transaction>> Begin(bool write) override {
    std::unique_lock<std::mutex> write_lock;
    Connection* c = nullptr;
    if (write) {
      write_lock = std::unique_lock<std::mutex>(write_mutex_);
      c = writer_.get();
    } else {
      auto r = TakeReader();
      if (!r) return r.status();
      c = *r;
    }
    const char* begin = write ? "BEGIN IMMEDIATE" : "BEGIN";
    return BeginSqlTransaction(*c, kSqlite,
                               std::make_unique<SqliteLease>(*this, *c, std::move(write_lock)), begin);
  }

  int SchemaVersion() override {
    std::lock_guard lock(write_mutex_);
    return ReadSchemaVersion(*writer_);
  }

  void GiveBack(Connection& c) {
    if (&c == writer_.get()) return;
    std::lock_guard lock(pool_mutex_);
    idle_.push_back(&c);
  }

 private:
  Result<Connection*> TakeReader() {
    {
      std::lock_guard lock(pool_mutex_);
      if (!idle_.empty()) {
        Connection* c = idle_.back();
        idle_.pop_back();
        return c;
      }
    }
    auto opened = Connection::Open(path_);
    if (!opened) return opened.status();
    std::lock_guard lock(pool_mutex_);
    readers_.push_back(std::move(opened).value());
    return readers_.back().get();
  }

  // Another process migrating at the same time waits on the write lock.
  Status Migrate() {
    std::lock_guard lock(write_mutex_);
    return MigrateSchema(*writer_, "BEGIN IMMEDIATE", "INTEGER PRIMARY KEY", "BLOB");
  }

  std::string path_;
  std::mutex write_mutex_;
  std::unique_ptr<Connection> writer_;
  std::mutex pool_mutex_;
  std::vector<std::unique_ptr<Connection>> readers_;
  std::vector<Connection*> idle_;
};

SqliteLease::~SqliteLease() { owner_.GiveBack(c_); }

}  // namespace

Result<std::unique_ptr<Storage>> OpenSqliteStorage(const std::string& path) {
  auto storage = std::make_unique<SqliteStorage>(path);
  if (Status s = storage->Open(); !s) return s;
  return std::unique_ptr<Storage>(std::move(storage));
}

}  // namespace kv::server
