#include "storage/postgres_storage.h"

#include <libpq-fe.h>

#include <charconv>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "storage/sql_transaction.h"
#include "storage/sqlite_storage.h"

namespace kv::server {
namespace {

using platform::ErrorKind;

// Advisory lock keys of this service (any two numbers no other program of
// the database uses).
constexpr std::int64_t kWriteLock = 0x4b76'0001;
constexpr std::int64_t kMigrationLock = 0x4b76'0002;
// Idle connections kept for later transactions; more are closed.
constexpr std::size_t kIdleConnections = 32;

ErrorKind KindOfState(std::string_view state) {
  if (state.starts_with("23")) return ErrorKind::AlreadyExists;  // integrity: unique, foreign key
  if (state.starts_with("08") || state.starts_with("57P")) return ErrorKind::Network;
  if (state == "53100") return ErrorKind::DiskFull;
  if (state == "40001" || state == "40P01" || state == "55P03") return ErrorKind::SharingViolation;
  if (state == "42501") return ErrorKind::AccessDenied;
  if (state.starts_with("XX")) return ErrorKind::Corrupt;
  return ErrorKind::Other;
}

// The failure of a command; a result of null means the connection failed.
Status ResultError(PGconn* conn, const PGresult* res, std::string_view what) {
  const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
  std::string message = res ? PQresultErrorMessage(res) : "";
  if (message.empty()) message = conn ? PQerrorMessage(conn) : "no connection";
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  const ErrorKind kind = state ? KindOfState(state)
                               : (conn && PQstatus(conn) != CONNECTION_OK ? ErrorKind::Network
                                                                          : ErrorKind::Other);
  return Status::Error(kind, std::string(what) + ": " + message);
}

bool Succeeded(const PGresult* res) {
  const ExecStatusType st = res ? PQresultStatus(res) : PGRES_FATAL_ERROR;
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
}

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

// "?" and "?N" parameters as PostgreSQL writes them ("$N"), outside quoted
// text; a bare "?" takes the number after the largest so far, as in SQLite.
std::string NumberedParameters(std::string_view sql, int& count) {
  std::string out;
  out.reserve(sql.size() + 16);
  count = 0;
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char ch = sql[i];
    if (quote) {
      if (ch == quote) quote = 0;  // a doubled quote closes and reopens: same result
      out += ch;
      continue;
    }
    if (ch == '\'' || ch == '"') {
      quote = ch;
      out += ch;
      continue;
    }
    if (ch != '?') {
      out += ch;
      continue;
    }
    std::size_t end = i + 1;
    while (end < sql.size() && sql[end] >= '0' && sql[end] <= '9') ++end;
    int number = count + 1;
    if (end > i + 1) std::from_chars(sql.data() + i + 1, sql.data() + end, number);
    if (number > count) count = number;
    out += '$';
    out += std::to_string(number);
    i = end - 1;
  }
  return out;
}

class PgStatement final : public SqlStatement {
 public:
  PgStatement(PGconn* conn, std::string name, int parameters)
      : conn_(conn), name_(std::move(name)), parameters_(parameters) {}

  void Reset() override {
    result_.reset();
    values_.clear();
    formats_.clear();
    row_ = -1;
    ran_ = false;
    status_ = Status::Ok();
  }
  void BindInt(std::int64_t v) override { Add(std::to_string(v), 0); }
  void BindText(std::string_view v) override {
    // Text travels as a C string: a NUL would cut it short without a word.
    if (v.find('\0') != std::string_view::npos && status_) {
      status_ = Status::Error(ErrorKind::Other, "query: text holds a NUL character");
    }
    Add(std::string(v), 0);
  }
  void BindBlob(std::string_view v) override { Add(std::string(v), 1); }

  bool Step() override {
    if (!ran_) {
      ran_ = true;
      if (!status_) return false;
      // SQLite ignores values past the statement's last parameter; so does this.
      if (static_cast<int>(values_.size()) < parameters_) {
        status_ = Status::Error(ErrorKind::Other, "query: " + std::to_string(values_.size()) +
                                                      " values for " + std::to_string(parameters_) +
                                                      " parameters");
        return false;
      }
      std::vector<const char*> values;
      std::vector<int> lengths;
      for (const std::string& v : values_) {
        values.push_back(v.c_str());
        lengths.push_back(static_cast<int>(v.size()));
      }
      result_.reset(PQexecPrepared(conn_, name_.c_str(), parameters_, values.data(), lengths.data(),
                                   formats_.data(), 0));
      if (!Succeeded(result_.get())) {
        status_ = ResultError(conn_, result_.get(), "query");
        result_.reset();
        return false;
      }
    }
    if (!result_) return false;
    return ++row_ < PQntuples(result_.get());
  }
  std::int64_t Int(int col) const override {
    const char* text = PQgetvalue(result_.get(), row_, col);
    std::int64_t value = 0;
    std::from_chars(text, text + PQgetlength(result_.get(), row_, col), value);
    return value;
  }
  std::string Text(int col) const override {
    return std::string(PQgetvalue(result_.get(), row_, col),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row_, col)));
  }
  const Status& status() const override { return status_; }

 private:
  void Add(std::string value, int format) {
    values_.push_back(std::move(value));
    formats_.push_back(format);
  }

  PGconn* conn_;
  std::string name_;
  int parameters_;
  std::vector<std::string> values_;
  std::vector<int> formats_;
  ResultPtr result_;
  int row_ = -1;
  bool ran_ = false;
  Status status_;
};

class PgConnection final : public SqlConnection {
 public:
  ~PgConnection() override {
    statements_.clear();
    PQfinish(conn_);
  }

  static Result<std::unique_ptr<PgConnection>> Open(const std::string& conninfo) {
    auto c = std::unique_ptr<PgConnection>(new PgConnection);
    c->conn_ = PQconnectdb(conninfo.c_str());
    if (!c->conn_ || PQstatus(c->conn_) != CONNECTION_OK) {
      return ResultError(c->conn_, nullptr, "cannot connect to PostgreSQL");
    }
    if (PQsetClientEncoding(c->conn_, "UTF8") != 0) {
      return ResultError(c->conn_, nullptr, "cannot use UTF-8 with PostgreSQL");
    }
    // Warnings such as "there is no transaction in progress" are not news.
    PQsetNoticeProcessor(c->conn_, [](void*, const char*) {}, nullptr);
    return c;
  }

  Status Exec(std::string_view sql) override {
    const std::string text(sql);
    const ResultPtr res(PQexec(conn_, text.c_str()));
    if (!Succeeded(res.get())) return ResultError(conn_, res.get(), "statement failed");
    return Status::Ok();
  }

  SqlStatement* Prepare(const char* sql, Status& status) override {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second.get();
    int parameters = 0;
    const std::string text = NumberedParameters(sql, parameters);
    std::string name = "kv" + std::to_string(statements_.size() + 1);
    const ResultPtr res(PQprepare(conn_, name.c_str(), text.c_str(), parameters, nullptr));
    if (!Succeeded(res.get())) {
      status = ResultError(conn_, res.get(), "prepare");
      return nullptr;
    }
    auto owned = std::make_unique<PgStatement>(conn_, std::move(name), parameters);
    SqlStatement* out = owned.get();
    statements_.emplace(sql, std::move(owned));
    return out;
  }

  // Whether it can serve another transaction: connected, none left open.
  bool Reusable() const {
    return PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }

 private:
  PgConnection() = default;
  PGconn* conn_ = nullptr;
  std::unordered_map<const char*, std::unique_ptr<PgStatement>> statements_;
};

const SqlDialect kPostgres = {
    "SELECT " KV_PROGRAM_COLUMNS " FROM programs "
    "WHERE strpos(lower(name), lower(?)) > 0 ORDER BY lower(name), id LIMIT ?",
    "WITH ids(pid) AS (SELECT DISTINCT unnest(CAST(? AS BIGINT[]))) SELECT pid, " KV_COUNTERS_OF_PID
    " FROM ids",
    "SELECT program_id, version, is_beta, COUNT(DISTINCT user_id) FROM installs "
    "WHERE program_id = ANY (CAST(? AS BIGINT[])) GROUP BY program_id, version, is_beta",
    "{}",
};

class PgStorage;

class PgLease final : public SqlLease {
 public:
  PgLease(PgStorage& owner, std::unique_ptr<PgConnection> c) : owner_(owner), c_(std::move(c)) {}
  ~PgLease() override;

 private:
  PgStorage& owner_;
  std::unique_ptr<PgConnection> c_;
};

class PgStorage final : public Storage {
 public:
  explicit PgStorage(std::string conninfo) : conninfo_(std::move(conninfo)) {}

  Status Open() {
    auto c = PgConnection::Open(conninfo_);
    if (!c) return c.status();
    // Held for the whole migration, outside its transactions: a second
    // process starting now waits here, then finds the schema up to date.
    if (Status s = c->Exec("SELECT pg_advisory_lock(" + std::to_string(kMigrationLock) + ")"); !s)
      return s;
    // Each migration also takes the write lock: older processes still
    // serving (a rolling upgrade) do not write while it changes the tables.
    Status migrated = MigrateSchema(*c, WriteBegin(), "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY",
                                    "BYTEA");
    Status unlocked =
        c->Exec("SELECT pg_advisory_unlock(" + std::to_string(kMigrationLock) + ")");
    if (!migrated) return migrated;
    if (!unlocked) return unlocked;
    GiveBack(std::move(c).value());
    return Status::Ok();
  }

  Result<std::unique_ptr<Transaction>> Begin(bool write) override {
    const std::string& begin = write ? WriteBegin() : kReadBegin;
    // An idle connection may have lost its server since (a restart): one
    // fresh connection is tried before the request fails.
    for (int attempt = 0;; ++attempt) {
      auto c = Take(attempt > 0);
      if (!c) return c.status();
      PgConnection& conn = *c;
      auto tx = BeginSqlTransaction(conn, kPostgres,
                                    std::make_unique<PgLease>(*this, std::move(c).value()), begin);
      if (tx || attempt > 0 || !tx.status().Is(ErrorKind::Network)) return tx;
    }
  }

  int SchemaVersion() override {
    auto c = Take(false);
    if (!c) return 0;
    const int version = ReadSchemaVersion(*c);
    GiveBack(std::move(c).value());
    return version;
  }

  void GiveBack(std::unique_ptr<PgConnection> c) {
    if (!c->Reusable()) return;
    std::lock_guard lock(mutex_);
    if (idle_.size() < kIdleConnections) idle_.push_back(std::move(c));
  }

 private:
  // One snapshot for the whole transaction; READ ONLY makes a write that
  // strays into it fail instead of passing the write lock by.
  static inline const std::string kReadBegin = "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY";
  // READ COMMITTED whatever the database's default: each statement sees
  // what the writers before this one committed, once the lock is granted
  // (a snapshot taken before the lock would not).
  static const std::string& WriteBegin() {
    static const std::string begin = "BEGIN ISOLATION LEVEL READ COMMITTED; SELECT pg_advisory_xact_lock(" +
                                     std::to_string(kWriteLock) + ")";
    return begin;
  }

  Result<std::unique_ptr<PgConnection>> Take(bool fresh) {
    {
      std::lock_guard lock(mutex_);
      if (fresh) {
        idle_.clear();  // they shared the server that went away
      } else if (!idle_.empty()) {
        auto c = std::move(idle_.back());
        idle_.pop_back();
        return c;
      }
    }
    auto c = PgConnection::Open(conninfo_);
    if (!c) return c.status();
    return std::move(c).value();
  }

  std::string conninfo_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<PgConnection>> idle_;
};

PgLease::~PgLease() {
  if (c_) owner_.GiveBack(std::move(c_));
}

}  // namespace

Result<std::unique_ptr<Storage>> OpenPostgresStorage(const std::string& conninfo) {
  auto storage = std::make_unique<PgStorage>(conninfo);
  if (Status s = storage->Open(); !s) return s;
  return std::unique_ptr<Storage>(std::move(storage));
}

bool IsPostgresAddress(std::string_view database) {
  return database.starts_with("postgresql://") || database.starts_with("postgres://");
}

std::string DatabaseForDisplay(std::string_view database) {
  if (!IsPostgresAddress(database)) return std::string(database);
  std::string out(database);
  // user:password@ ends at the first "@" before any "/", as libpq reads it
  // (a "?" may be part of the password).
  const std::size_t authority = out.find("://") + 3;
  const std::size_t at = out.find_first_of("@/", authority);
  if (at != std::string::npos && out[at] == '@') {
    const std::size_t colon = out.find(':', authority);
    if (colon < at) out.replace(colon + 1, at - colon - 1, "*");
  }
  // password=... and sslpassword=... among the query's parameters
  for (std::size_t from = out.find('?', authority); from != std::string::npos;
       from = out.find('&', from + 1)) {
    const std::size_t name = from + 1;
    for (std::string_view key : {"password=", "sslpassword="}) {
      if (out.compare(name, key.size(), key) != 0) continue;
      const std::size_t value = name + key.size();
      const std::size_t next = out.find('&', value);
      out.replace(value, (next == std::string::npos ? out.size() : next) - value, "*");
    }
  }
  return out;
}

Result<std::unique_ptr<Storage>> OpenStorage(const std::string& database) {
  if (IsPostgresAddress(database)) return OpenPostgresStorage(database);
  return OpenSqliteStorage(database);
}

}  // namespace kv::server
