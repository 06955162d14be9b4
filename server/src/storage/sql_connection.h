#pragma once
// What the storage's SQL needs of a database driver, so that one set of
// statements runs on SQLite and on PostgreSQL. Statements are written with
// "?" and "?N" parameters (a driver may rewrite them) and keep to SQL both
// databases accept; the few that cannot are chosen by the SqlDialect.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "storage/storage.h"

namespace kv::server {

// One prepared statement of a connection, reused from one run to the next.
class SqlStatement {
 public:
  virtual ~SqlStatement() = default;
  // Forgets the last run's bindings and rows.
  virtual void Reset() = 0;
  virtual void BindInt(std::int64_t value) = 0;
  virtual void BindText(std::string_view value) = 0;
  virtual void BindBlob(std::string_view value) = 0;
  // Runs the statement on its first call; true while there is a row. On a
  // failure it answers false and status() says why.
  virtual bool Step() = 0;
  virtual std::int64_t Int(int column) const = 0;
  virtual std::string Text(int column) const = 0;
  virtual const Status& status() const = 0;
};

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  // Runs statements without parameters or rows (BEGIN, COMMIT, a migration).
  virtual Status Exec(std::string_view sql) = 0;
  // `sql` lives as long as the program (a literal or a static string): a
  // connection keeps its statements by that address, not by their text.
  // Null with status() set when it cannot be prepared.
  virtual SqlStatement* Prepare(const char* sql, Status& status) = 0;

  // Where failing statements report while a transaction holds the connection.
  Status* error_sink() const { return error_sink_; }
  void set_error_sink(Status* sink) { error_sink_ = sink; }

 private:
  Status* error_sink_ = nullptr;
};

// The statements that each database words its own way.
struct SqlDialect {
  // Programs whose lower-cased name contains the lower-cased parameter 1;
  // parameter 2 is the limit.
  const char* list_programs;
  // Per-program counters and per-version users of a list of ids bound as
  // one parameter: the ids between these brackets, comma-separated ("[]" a
  // JSON array, "{}" a PostgreSQL array).
  const char* counters_of;
  const char* versions_seen_of;
  const char* id_list_brackets;
};

// A prepared statement bound for one use. Its failure also marks the
// transaction holding the connection.
class SqlQuery {
 public:
  SqlQuery(SqlConnection& c, const char* sql) : c_(c), stmt_(c.Prepare(sql, status_)) {}
  ~SqlQuery() {
    if (stmt_) stmt_->Reset();
    Status* sink = c_.error_sink();
    if (!status_ && sink && sink->ok()) *sink = status_;
  }
  SqlQuery(const SqlQuery&) = delete;
  SqlQuery& operator=(const SqlQuery&) = delete;

  SqlQuery& Bind(std::int64_t v) {
    if (stmt_) stmt_->BindInt(v);
    return *this;
  }
  SqlQuery& Bind(std::string_view v) {
    if (stmt_) stmt_->BindText(v);
    return *this;
  }
  SqlQuery& Bind(const char* v) { return Bind(std::string_view(v)); }
  SqlQuery& Bind(const std::string& v) { return Bind(std::string_view(v)); }
  SqlQuery& BindBlob(std::string_view v) {
    if (stmt_) stmt_->BindBlob(v);
    return *this;
  }
  // True while there is a row.
  bool Next() {
    if (!stmt_ || !status_) return false;
    if (stmt_->Step()) return true;
    if (!stmt_->status()) status_ = stmt_->status();
    return false;
  }
  // Runs a statement without rows.
  Status Run() {
    while (Next()) {
    }
    return status_;
  }
  std::int64_t Int(int col) const { return stmt_->Int(col); }
  std::string Text(int col) const { return stmt_->Text(col); }
  const Status& status() const { return status_; }

 private:
  SqlConnection& c_;
  Status status_;
  SqlStatement* stmt_;
};

// Brings the schema to the newest version, one migration per transaction
// begun with `begin`. The caller keeps other writers out meanwhile.
// `key_type` and `blob_type` replace the schema's placeholders.
Status MigrateSchema(SqlConnection& c, std::string_view begin, std::string_view key_type,
                     std::string_view blob_type);
// The schema version the database is at (0: none yet); a failure to read
// it goes to `failure` when given.
int ReadSchemaVersion(SqlConnection& c, Status* failure = nullptr);

}  // namespace kv::server
