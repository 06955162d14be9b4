#include "storage/sqlite_storage.h"

#include <sqlite3.h>

#include <mutex>
#include <unordered_map>

#include "storage/schema.h"

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

// One connection and its prepared statements. Used by one thread at a time.
class Connection {
 public:
  ~Connection() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
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

  Status Exec(std::string_view sql) {
    char* message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      Status s = DbError(db_, message ? message : "statement failed");
      sqlite3_free(message);
      return s;
    }
    return Status::Ok();
  }

  // `sql` is a string that lives as long as the program (a literal): the
  // prepared statements are found by its address, not by hashing its text.
  sqlite3_stmt* Prepare(const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) {
      sqlite3_reset(found->second);
      sqlite3_clear_bindings(found->second);
      return found->second;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      return nullptr;
    }
    statements_.emplace(sql, stmt);
    return stmt;
  }

  sqlite3* db() const { return db_; }
  // Where failing statements report while a transaction holds the connection.
  Status* error_sink() const { return error_sink_; }
  void set_error_sink(Status* sink) { error_sink_ = sink; }

 private:
  Connection() = default;
  sqlite3* db_ = nullptr;
  Status* error_sink_ = nullptr;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

// A prepared statement bound for one use. Its failure also marks the
// transaction holding the connection.
class Query {
 public:
  Query(Connection& c, const char* sql) : c_(c), stmt_(c.Prepare(sql)) {
    if (!stmt_) status_ = DbError(c.db(), "prepare");
  }
  ~Query() {
    if (stmt_) sqlite3_reset(stmt_);
    Status* sink = c_.error_sink();
    if (!status_ && sink && sink->ok()) *sink = status_;
  }
  Query& Bind(std::int64_t v) {
    if (stmt_) sqlite3_bind_int64(stmt_, ++n_, v);
    return *this;
  }
  Query& Bind(std::string_view v) {
    if (stmt_) sqlite3_bind_text(stmt_, ++n_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& Bind(const char* v) { return Bind(std::string_view(v)); }
  Query& Bind(const std::string& v) { return Bind(std::string_view(v)); }
  Query& BindBlob(std::string_view v) {
    if (stmt_) sqlite3_bind_blob(stmt_, ++n_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // True while there is a row.
  bool Next() {
    if (!stmt_ || !status_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) status_ = DbError(c_.db(), "query");
    return false;
  }
  // Runs a statement without rows.
  Status Run() {
    Next();
    return status_;
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : "";
  }
  const Status& status() const { return status_; }
  std::int64_t LastId() const { return sqlite3_last_insert_rowid(c_.db()); }
  int Changes() const { return sqlite3_changes(c_.db()); }

 private:
  Connection& c_;
  sqlite3_stmt* stmt_;
  int n_ = 0;
  Status status_;
};

User ReadUser(const Query& q) {
  return {q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Int(4) != 0, q.Int(5)};
}
Program ReadProgram(const Query& q) {
  return {q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Text(4),
          q.Text(5), q.Text(6), q.Text(7), q.Text(8), q.Int(9)};
}
#define KV_PROGRAM_COLUMNS \
  "id, match_key, name, publisher, short_name, publisher_short, home_page, stable_version, " \
  "beta_version, created_at"

// "[1,2,3]": integers only, so never text from a request.
std::string IdArray(std::span<const Id> ids) {
  std::string out = "[";
  for (const Id id : ids) {
    if (out.size() > 1) out += ',';
    out += std::to_string(id);
  }
  return out + "]";
}

class SqliteStorage;

class SqliteTransaction final : public Transaction {
 public:
  SqliteTransaction(SqliteStorage& owner, Connection& c, std::unique_lock<std::mutex> write_lock)
      : owner_(owner), c_(c), write_lock_(std::move(write_lock)) {
    c_.set_error_sink(&error_);
  }
  ~SqliteTransaction() override;

  Status Begin() { return c_.Exec(write_lock_.owns_lock() ? "BEGIN IMMEDIATE" : "BEGIN"); }

  Status status() const override { return error_; }

  Status Commit() override {
    if (done_) return Status::Error(ErrorKind::Other, "transaction already ended");
    if (!error_) return error_;  // a half-done request is not kept
    Status s = c_.Exec("COMMIT");
    if (s) {
      done_ = true;
      Release();  // the next writer may go on at once
    }
    return s;
  }

  Result<Id> AddUser(const User& u) override {
    Query q(c_, "INSERT INTO users (email, name, credential, is_guest, created_at) "
                "VALUES (NULLIF(?, ''), ?, ?, ?, ?)");
    q.Bind(u.email).Bind(u.name).Bind(u.credential).Bind(std::int64_t{u.is_guest}).Bind(u.created_at);
    if (Status s = q.Run(); !s) return s;
    return q.LastId();
  }
  std::optional<User> FindUser(Id id) override {
    Query q(c_, "SELECT id, IFNULL(email, ''), name, credential, is_guest, created_at "
                "FROM users WHERE id = ?");
    q.Bind(id);
    if (!q.Next()) return std::nullopt;
    return ReadUser(q);
  }
  std::optional<User> FindUserByEmail(std::string_view email) override {
    Query q(c_, "SELECT id, IFNULL(email, ''), name, credential, is_guest, created_at "
                "FROM users WHERE email = ?");
    q.Bind(email);
    if (!q.Next()) return std::nullopt;
    return ReadUser(q);
  }
  Status UpdateUser(const User& u) override {
    Query q(c_, "UPDATE users SET email = NULLIF(?, ''), name = ?, credential = ?, is_guest = ? "
                "WHERE id = ?");
    return q.Bind(u.email).Bind(u.name).Bind(u.credential).Bind(std::int64_t{u.is_guest}).Bind(u.id).Run();
  }
  Status MergeUser(Id from, Id to) override {
#define KV_SHARED_MACHINES \
  "SELECT id FROM machines WHERE user_id = ?2 AND guid IN (SELECT guid FROM machines WHERE user_id = ?1)"
    // A rating the new account already has wins over the guest's; a machine
    // both know keeps the guest's side, which is what it reported last.
    static const char* const kSteps[] = {
        "UPDATE OR IGNORE ratings SET user_id = ?2 WHERE user_id = ?1",
        "DELETE FROM ratings WHERE user_id = ?1",
        "DELETE FROM installs WHERE machine_id IN (" KV_SHARED_MACHINES ")",
        "DELETE FROM associations WHERE machine_id IN (" KV_SHARED_MACHINES ")",
        "DELETE FROM usage_logs WHERE machine_id IN (" KV_SHARED_MACHINES ")",
        "DELETE FROM news_seen WHERE machine_id IN (" KV_SHARED_MACHINES ")",
        "DELETE FROM machines WHERE id IN (" KV_SHARED_MACHINES ")",
        "UPDATE installs SET user_id = ?2 WHERE user_id = ?1",
        "UPDATE machines SET user_id = ?2 WHERE user_id = ?1",
        "UPDATE comments SET user_id = ?2 WHERE user_id = ?1",
        "DELETE FROM users WHERE id = ?1",
    };
    for (const char* sql : kSteps) {
      Query q(c_, sql);
      if (Status s = q.Bind(from).Bind(to).Run(); !s) return s;
    }
    return Status::Ok();
  }

  Result<Id> TouchMachine(std::string_view guid, Id user_id, std::string_view build,
                          std::int64_t now) override {
    Query q(c_, "INSERT INTO machines (guid, user_id, client_build, last_seen) VALUES (?, ?, ?, ?) "
                "ON CONFLICT (user_id, guid) DO UPDATE SET client_build = excluded.client_build, last_seen = excluded.last_seen "
                "RETURNING id");
    q.Bind(guid).Bind(user_id).Bind(build).Bind(now);
    if (!q.Next()) return q.status().ok() ? Status::Error(ErrorKind::Other, "no machine") : q.status();
    return q.Int(0);
  }

  std::optional<Machine> FindMachine(Id user_id, std::string_view guid) override {
    Query q(c_, "SELECT id, guid, user_id, client_build, last_seen FROM machines "
                "WHERE user_id = ? AND guid = ?");
    if (!q.Bind(user_id).Bind(guid).Next()) return std::nullopt;
    return Machine{q.Int(0), q.Text(1), q.Int(2), q.Text(3), q.Int(4)};
  }

  Result<Id> AddProgram(const Program& p) override {
    Query q(c_, "INSERT INTO programs (match_key, name, publisher, short_name, publisher_short, "
                "home_page, stable_version, beta_version, created_at) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    q.Bind(p.match_key).Bind(p.name).Bind(p.publisher).Bind(p.short_name).Bind(p.publisher_short)
        .Bind(p.home_page).Bind(p.stable_version).Bind(p.beta_version).Bind(p.created_at);
    if (Status s = q.Run(); !s) return s;
    return q.LastId();
  }
  Status UpdateProgram(const Program& p) override {
    Query q(c_, "UPDATE programs SET match_key = ?, name = ?, publisher = ?, short_name = ?, "
                "publisher_short = ?, home_page = ?, stable_version = ?, beta_version = ? "
                "WHERE id = ?");
    return q.Bind(p.match_key).Bind(p.name).Bind(p.publisher).Bind(p.short_name)
        .Bind(p.publisher_short).Bind(p.home_page).Bind(p.stable_version).Bind(p.beta_version)
        .Bind(p.id).Run();
  }
  std::optional<Program> FindProgram(Id id) override {
    Query q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs WHERE id = ?");
    q.Bind(id);
    if (!q.Next()) return std::nullopt;
    return ReadProgram(q);
  }
  std::optional<Program> FindProgramByKey(std::string_view key) override {
    Query q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs WHERE match_key = ?");
    q.Bind(key);
    if (!q.Next()) return std::nullopt;
    return ReadProgram(q);
  }
  std::optional<Program> FindProgramByShortName(std::string_view name) override {
    Query q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs WHERE short_name = ?");
    q.Bind(name);
    if (!q.Next()) return std::nullopt;
    return ReadProgram(q);
  }
  std::map<std::string, Id> ProgramIdsByKey(std::span<const std::string> keys) override {
    // A fixed number of bound keys per statement, the last batch padded
    // with its own first key.
    constexpr std::size_t kBatch = 50;
    static const std::string sql = [] {
      std::string text = "SELECT match_key, id FROM programs WHERE match_key IN (?";
      for (std::size_t i = 1; i < kBatch; ++i) text += ", ?";
      return text + ")";
    }();
    std::map<std::string, Id> out;
    for (std::size_t start = 0; start < keys.size(); start += kBatch) {
      Query q(c_, sql.c_str());
      for (std::size_t i = 0; i < kBatch; ++i) {
        q.Bind(keys[start + i < keys.size() ? start + i : start]);
      }
      while (q.Next()) out.emplace(q.Text(0), q.Int(1));
    }
    return out;
  }
  std::vector<Program> ListPrograms(std::string_view text, std::size_t limit) override {
    Query q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs "
                "WHERE instr(lower(name), lower(?)) > 0 ORDER BY lower(name), id LIMIT ?");
    q.Bind(text).Bind(static_cast<std::int64_t>(limit));
    std::vector<Program> out;
    while (q.Next()) out.push_back(ReadProgram(q));
    return out;
  }

  std::vector<Program> ProgramsOfPublisher(std::string_view publisher_short,
                                           std::size_t limit) override {
    Query q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs "
                "WHERE publisher_short = ? ORDER BY name, id LIMIT ?");
    q.Bind(publisher_short).Bind(static_cast<std::int64_t>(limit));
    std::vector<Program> out;
    while (q.Next()) out.push_back(ReadProgram(q));
    return out;
  }

  Status PutInstall(const Install& i) override {
    Query q(c_, "INSERT INTO installs (machine_id, program_id, user_id, version, is_beta, "
                "display_name, reported_name, updated_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
                "ON CONFLICT (machine_id, program_id, display_name) DO UPDATE SET "
                "user_id = excluded.user_id, version = excluded.version, is_beta = excluded.is_beta, "
                "reported_name = excluded.reported_name, "
                "updated_at = excluded.updated_at");
    return q.Bind(i.machine_id).Bind(i.program_id).Bind(i.user_id).Bind(i.version)
        .Bind(std::int64_t{i.is_beta}).Bind(i.display_name).Bind(i.reported_name)
        .Bind(i.updated_at).Run();
  }
  Status RemoveInstall(Id machine_id, Id program_id) override {
    Query q(c_, "DELETE FROM installs WHERE machine_id = ? AND program_id = ?");
    return q.Bind(machine_id).Bind(program_id).Run();
  }
  std::vector<Install> InstallsOn(Id machine_id) override {
    Query q(c_, "SELECT machine_id, program_id, user_id, version, is_beta, display_name, "
                "reported_name, updated_at FROM installs WHERE machine_id = ? "
                "ORDER BY program_id, display_name");
    q.Bind(machine_id);
    std::vector<Install> out;
    while (q.Next()) {
      out.push_back({q.Int(0), q.Int(1), q.Int(2), q.Text(3), q.Int(4) != 0, q.Text(5), q.Text(6),
                     q.Int(7)});
    }
    return out;
  }
  std::vector<InstalledProgram> ProgramsOn(Id machine_id, Id user_id) override {
    Query q(c_, "SELECT i.machine_id, i.program_id, i.user_id, i.version, i.is_beta, "
                "i.display_name, i.reported_name, i.updated_at, "
                "p.id, p.short_name, p.publisher_short, p.stable_version, p.beta_version, "
                "IFNULL(s.users, 0), IFNULL(s.comments, 0), IFNULL(s.questions, 0), "
                "IFNULL(s.ratings, 0), IFNULL(s.rating_sum, 0), IFNULL(s.learned_stable, ''), "
                "IFNULL(s.learned_beta, ''), IFNULL(r.rating, 0), "
                "EXISTS (SELECT 1 FROM icons c WHERE c.program_id = i.program_id) "
                "FROM installs i JOIN programs p ON p.id = i.program_id "
                "LEFT JOIN program_stats s ON s.program_id = i.program_id "
                "LEFT JOIN ratings r ON r.user_id = ?2 AND r.program_id = i.program_id "
                "WHERE i.machine_id = ?1 ORDER BY i.program_id, i.display_name");
    q.Bind(machine_id).Bind(user_id);
    std::vector<InstalledProgram> out;
    while (q.Next()) {
      InstalledProgram ip;
      ip.install = {q.Int(0), q.Int(1), q.Int(2), q.Text(3), q.Int(4) != 0, q.Text(5), q.Text(6),
                    q.Int(7)};
      ip.program.id = q.Int(8);
      ip.program.short_name = q.Text(9);
      ip.program.publisher_short = q.Text(10);
      ip.program.stable_version = q.Text(11);
      ip.program.beta_version = q.Text(12);
      ip.stats.counters = {q.Int(13), q.Int(14), q.Int(15), q.Int(16), q.Int(17)};
      ip.stats.learned_stable = q.Text(18);
      ip.stats.learned_beta = q.Text(19);
      ip.user_rating = static_cast<int>(q.Int(20));
      ip.has_icon = q.Int(21) != 0;
      out.push_back(std::move(ip));
    }
    return out;
  }
  bool IsInstalledBy(Id user_id, Id program_id) override {
    Query q(c_, "SELECT 1 FROM installs WHERE user_id = ? AND program_id = ? LIMIT 1");
    return q.Bind(user_id).Bind(program_id).Next();
  }
  std::vector<Id> ProgramsOfUser(Id user_id) override {
    Query q(c_, "SELECT DISTINCT program_id FROM installs WHERE user_id = ? ORDER BY program_id");
    q.Bind(user_id);
    std::vector<Id> out;
    while (q.Next()) out.push_back(q.Int(0));
    return out;
  }
  std::vector<UserInstall> InstallsOfUser(Id user_id, std::size_t limit) override {
    Query q(c_, "SELECT DISTINCT p.id, p.name, p.short_name, p.publisher, p.publisher_short, "
                "p.stable_version, p.beta_version, i.version, i.is_beta, "
                "IFNULL(s.users, 0), IFNULL(s.comments, 0), IFNULL(s.questions, 0), "
                "IFNULL(s.ratings, 0), IFNULL(s.rating_sum, 0), IFNULL(s.learned_stable, ''), "
                "IFNULL(s.learned_beta, '') "
                "FROM installs i JOIN programs p ON p.id = i.program_id "
                "LEFT JOIN program_stats s ON s.program_id = i.program_id "
                "WHERE i.user_id = ? ORDER BY lower(p.name), p.id, i.version LIMIT ?");
    q.Bind(user_id).Bind(static_cast<std::int64_t>(limit));
    std::vector<UserInstall> out;
    while (q.Next()) {
      UserInstall u;
      u.program.id = q.Int(0);
      u.program.name = q.Text(1);
      u.program.short_name = q.Text(2);
      u.program.publisher = q.Text(3);
      u.program.publisher_short = q.Text(4);
      u.program.stable_version = q.Text(5);
      u.program.beta_version = q.Text(6);
      u.version = q.Text(7);
      u.is_beta = q.Int(8) != 0;
      u.stats.counters = {q.Int(9), q.Int(10), q.Int(11), q.Int(12), q.Int(13)};
      u.stats.learned_stable = q.Text(14);
      u.stats.learned_beta = q.Text(15);
      out.push_back(std::move(u));
    }
    return out;
  }
  // The ids travel as one bound JSON array: one statement for any number.
  std::map<Id, ProgramCounters> CountersOf(std::span<const Id> programs) override {
    Query q(c_, "WITH ids(pid) AS (SELECT DISTINCT value FROM json_each(?)) SELECT pid, "
                "(SELECT COUNT(DISTINCT user_id) FROM installs WHERE program_id = pid), "
                "(SELECT COUNT(*) FROM comments WHERE program_id = pid), "
                "(SELECT COUNT(*) FROM ratings WHERE program_id = pid), "
                "(SELECT IFNULL(SUM(rating), 0) FROM ratings WHERE program_id = pid) FROM ids");
    q.Bind(IdArray(programs));
    std::map<Id, ProgramCounters> out;
    while (q.Next()) out[q.Int(0)] = {q.Int(1), q.Int(2), 0, q.Int(3), q.Int(4)};
    return out;
  }
  std::map<Id, std::vector<VersionSeen>> VersionsSeenOf(std::span<const Id> programs) override {
    Query q(c_, "SELECT program_id, version, is_beta, COUNT(DISTINCT user_id) FROM installs "
                "WHERE program_id IN (SELECT value FROM json_each(?)) "
                "GROUP BY program_id, version, is_beta");
    q.Bind(IdArray(programs));
    std::map<Id, std::vector<VersionSeen>> out;
    while (q.Next()) out[q.Int(0)].push_back({q.Text(1), q.Int(2) != 0, q.Int(3)});
    return out;
  }
  Status PutProgramStats(Id program_id, const ProgramStats& s) override {
    Query q(c_, "INSERT INTO program_stats (program_id, users, comments, questions, ratings, "
                "rating_sum, learned_stable, learned_beta) VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
                "ON CONFLICT (program_id) DO UPDATE SET users = excluded.users, "
                "comments = excluded.comments, questions = excluded.questions, "
                "ratings = excluded.ratings, rating_sum = excluded.rating_sum, "
                "learned_stable = excluded.learned_stable, learned_beta = excluded.learned_beta");
    const ProgramCounters& c = s.counters;
    return q.Bind(program_id).Bind(c.users).Bind(c.comments).Bind(c.questions).Bind(c.ratings)
        .Bind(c.rating_sum).Bind(s.learned_stable).Bind(s.learned_beta).Run();
  }
  std::optional<ProgramStats> StatsOf(Id program_id) override {
    Query q(c_, "SELECT users, comments, questions, ratings, rating_sum, learned_stable, "
                "learned_beta FROM program_stats WHERE program_id = ?");
    if (!q.Bind(program_id).Next()) return std::nullopt;
    return ProgramStats{{q.Int(0), q.Int(1), q.Int(2), q.Int(3), q.Int(4)}, q.Text(5), q.Text(6)};
  }

  Result<Id> AddComment(const Comment& c) override {
    Query q(c_, "INSERT INTO comments (program_id, user_id, body, created_at) VALUES (?, ?, ?, ?)");
    if (Status s = q.Bind(c.program_id).Bind(c.user_id).Bind(c.text).Bind(c.created_at).Run(); !s)
      return s;
    return q.LastId();
  }
  std::vector<Comment> CommentsOn(Id program_id, std::size_t limit) override {
    Query q(c_, "SELECT id, program_id, user_id, body, created_at FROM comments "
                "WHERE program_id = ? ORDER BY created_at DESC, id DESC LIMIT ?");
    q.Bind(program_id).Bind(static_cast<std::int64_t>(limit));
    std::vector<Comment> out;
    while (q.Next()) out.push_back({q.Int(0), q.Int(1), q.Int(2), q.Text(3), q.Int(4)});
    return out;
  }
  std::vector<Comment> CommentsBy(Id user_id, std::size_t limit) override {
    Query q(c_, "SELECT id, program_id, user_id, body, created_at FROM comments "
                "WHERE user_id = ? ORDER BY created_at DESC, id DESC LIMIT ?");
    q.Bind(user_id).Bind(static_cast<std::int64_t>(limit));
    std::vector<Comment> out;
    while (q.Next()) out.push_back({q.Int(0), q.Int(1), q.Int(2), q.Text(3), q.Int(4)});
    return out;
  }
  Status SetRating(Id user_id, Id program_id, int rating) override {
    if (rating <= 0) {
      Query q(c_, "DELETE FROM ratings WHERE user_id = ? AND program_id = ?");
      return q.Bind(user_id).Bind(program_id).Run();
    }
    Query q(c_, "INSERT INTO ratings (user_id, program_id, rating) VALUES (?, ?, ?) "
                "ON CONFLICT (user_id, program_id) DO UPDATE SET rating = excluded.rating");
    return q.Bind(user_id).Bind(program_id).Bind(std::int64_t{rating}).Run();
  }
  int RatingOf(Id user_id, Id program_id) override {
    Query q(c_, "SELECT rating FROM ratings WHERE user_id = ? AND program_id = ?");
    return q.Bind(user_id).Bind(program_id).Next() ? static_cast<int>(q.Int(0)) : 0;
  }

  Status PutIcon(Id program_id, std::string_view ico) override {
    Query q(c_, "INSERT INTO icons (program_id, data, updated_at) VALUES (?, ?, strftime('%s')) "
                "ON CONFLICT (program_id) DO UPDATE SET data = excluded.data, "
                "updated_at = excluded.updated_at");
    return q.Bind(program_id).BindBlob(ico).Run();
  }
  bool HasIcon(Id program_id) override {
    Query q(c_, "SELECT 1 FROM icons WHERE program_id = ?");
    return q.Bind(program_id).Next();
  }

  Status PutAssociations(Id machine_id, std::string_view document, std::int64_t now) override {
    Query q(c_, "INSERT INTO associations (machine_id, document, received_at) VALUES (?, ?, ?) "
                "ON CONFLICT (machine_id) DO UPDATE SET document = excluded.document, "
                "received_at = excluded.received_at");
    return q.Bind(machine_id).Bind(document).Bind(now).Run();
  }
  Status AddUsageLog(Id machine_id, std::string_view log, std::int64_t now,
                     std::size_t cap) override {
    {
      Query q(c_, "INSERT INTO usage_logs (machine_id, received_at, data) VALUES (?, ?, ?)");
      if (Status s = q.Bind(machine_id).Bind(now).BindBlob(log).Run(); !s) return s;
    }
    // Oldest first out until the machine's logs fit the cap again.
    Query q(c_, "DELETE FROM usage_logs WHERE machine_id = ?1 AND id IN ("
                " SELECT id FROM (SELECT id, SUM(length(data)) OVER (ORDER BY id DESC) AS upto"
                " FROM usage_logs WHERE machine_id = ?1) WHERE upto > ?2)");
    return q.Bind(machine_id).Bind(static_cast<std::int64_t>(cap)).Run();
  }
  std::int64_t UsageLogBytes(Id machine_id) override {
    Query q(c_, "SELECT IFNULL(SUM(length(data)), 0) FROM usage_logs WHERE machine_id = ?");
    return q.Bind(machine_id).Next() ? q.Int(0) : 0;
  }

  Result<Id> AddNews(const NewsItem& n) override {
    Query q(c_, "INSERT INTO news (date_text, title, url, posted_at) VALUES (?, ?, ?, ?)");
    if (Status s = q.Bind(n.date).Bind(n.title).Bind(n.url).Bind(n.posted_at).Run(); !s) return s;
    return q.LastId();
  }
  std::vector<NewsItem> UnseenNews(Id machine_id) override {
    Query q(c_, "SELECT id, date_text, title, url, posted_at FROM news WHERE id NOT IN "
                "(SELECT news_id FROM news_seen WHERE machine_id = ?) ORDER BY posted_at, id");
    q.Bind(machine_id);
    std::vector<NewsItem> out;
    while (q.Next()) out.push_back({q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Int(4)});
    return out;
  }
  Status MarkNewsSeen(Id machine_id, Id news_id) override {
    Query q(c_, "INSERT INTO news_seen (machine_id, news_id) VALUES (?, ?) ON CONFLICT DO NOTHING");
    return q.Bind(machine_id).Bind(news_id).Run();
  }

  std::vector<NewsItem> LatestNews(std::size_t limit) override {
    Query q(c_, "SELECT id, date_text, title, url, posted_at FROM news "
                "ORDER BY posted_at DESC, id DESC LIMIT ?");
    q.Bind(static_cast<std::int64_t>(limit));
    std::vector<NewsItem> out;
    while (q.Next()) out.push_back({q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Int(4)});
    return out;
  }

  Result<Id> AddBugReport(const BugReport& r) override {
    Query q(c_, "INSERT INTO bug_reports (kind, email, body, peer, received_at) VALUES (?, ?, ?, ?, ?)");
    if (Status s = q.Bind(r.kind).Bind(r.email).Bind(r.text).Bind(r.peer).Bind(r.received_at).Run(); !s)
      return s;
    return q.LastId();
  }
  Status AddPasswordReminder(std::string_view email, Id user_id, std::string_view peer,
                             std::int64_t now) override {
    Query q(c_, "INSERT INTO password_reminders (email, user_id, peer, requested_at) "
                "VALUES (?, NULLIF(?, 0), ?, ?)");
    return q.Bind(email).Bind(user_id).Bind(peer).Bind(now).Run();
  }

  SiteCounts Counts() override {
    SiteCounts c;
    Query q(c_, "SELECT (SELECT COUNT(*) FROM programs), "
                "(SELECT COUNT(DISTINCT publisher_short) FROM programs WHERE publisher_short <> ''), "
                "(SELECT COUNT(*) FROM users), (SELECT COUNT(*) FROM news)");
    if (q.Next()) c = {q.Int(0), q.Int(1), q.Int(2), q.Int(3)};
    return c;
  }

  std::optional<std::string> Setting(std::string_view name) override {
    Query q(c_, "SELECT value FROM settings WHERE name = ?");
    if (!q.Bind(name).Next()) return std::nullopt;
    return q.Text(0);
  }
  Status PutSetting(std::string_view name, std::string_view value) override {
    Query q(c_, "INSERT INTO settings (name, value) VALUES (?, ?) "
                "ON CONFLICT (name) DO UPDATE SET value = excluded.value");
    return q.Bind(name).Bind(value).Run();
  }

 private:
  // Hands the connection back and lets the next writer in.
  void Release();

  SqliteStorage& owner_;
  Connection& c_;
  std::unique_lock<std::mutex> write_lock_;
  Status error_;
  bool done_ = false;
  bool released_ = false;
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
    auto tx = std::make_unique<SqliteTransaction>(*this, *c, std::move(write_lock));
    if (Status s = tx->Begin(); !s) return s;
    return std::unique_ptr<Transaction>(std::move(tx));
  }

  int SchemaVersion() override {
    std::lock_guard lock(write_mutex_);
    Query q(*writer_, "SELECT version FROM schema_version");
    return q.Next() ? static_cast<int>(q.Int(0)) : 0;
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

  // Brings the schema to the newest version, one migration per transaction;
  // another process migrating at the same time waits on the write lock.
  Status Migrate() {
    std::lock_guard lock(write_mutex_);
    if (Status s = writer_->Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"); !s)
      return s;
    const auto& migrations = SchemaMigrations();
    for (;;) {
      if (Status s = writer_->Exec("BEGIN IMMEDIATE"); !s) return s;
      int version = 0;
      {
        Query q(*writer_, "SELECT version FROM schema_version");
        if (q.Next()) version = static_cast<int>(q.Int(0));
      }
      if (version >= static_cast<int>(migrations.size())) {
        return writer_->Exec("COMMIT");
      }
      std::string sql(migrations[static_cast<std::size_t>(version)]);
      for (auto [from, to] : {std::pair<std::string_view, std::string_view>{"%KEY%", "INTEGER PRIMARY KEY"},
                              {"%BLOB%", "BLOB"}}) {
        for (std::size_t at; (at = sql.find(from)) != std::string::npos;) sql.replace(at, from.size(), to);
      }
      Status s = writer_->Exec(sql);
      if (s) {
        Query q(*writer_, version == 0 ? "INSERT INTO schema_version (version) VALUES (?)"
                                        : "UPDATE schema_version SET version = ?");
        s = q.Bind(std::int64_t{version + 1}).Run();
      }
      if (s) s = writer_->Exec("COMMIT");
      if (!s) {
        writer_->Exec("ROLLBACK").IgnoreError();  // the migration did not happen
        return Status::Error(s.kind(), "schema migration " + std::to_string(version + 1) +
                                           " failed: " + s.message());
      }
    }
  }

  std::string path_;
  std::mutex write_mutex_;
  std::unique_ptr<Connection> writer_;
  std::mutex pool_mutex_;
  std::vector<std::unique_ptr<Connection>> readers_;
  std::vector<Connection*> idle_;
};

SqliteTransaction::~SqliteTransaction() {
  if (!done_) c_.Exec("ROLLBACK").IgnoreError();  // an unfinished request leaves nothing
  Release();
}

void SqliteTransaction::Release() {
  if (released_) return;
  released_ = true;
  c_.set_error_sink(nullptr);
  owner_.GiveBack(c_);
  if (write_lock_.owns_lock()) write_lock_.unlock();
}

}  // namespace

Result<std::unique_ptr<Storage>> OpenSqliteStorage(const std::string& path) {
  auto storage = std::make_unique<SqliteStorage>(path);
  if (Status s = storage->Open(); !s) return s;
  return std::unique_ptr<Storage>(std::move(storage));
}

}  // namespace kv::server
