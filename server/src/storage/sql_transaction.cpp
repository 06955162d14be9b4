#include "storage/sql_transaction.h"

#include <ctime>

namespace kv::server {
namespace {

using platform::ErrorKind;

Result<Id> InsertedId(SqlQuery& q) {
  if (q.Next()) return q.Int(0);
  if (!q.status()) return q.status();
  return Status::Error(ErrorKind::Other, "the insert named no row");
}

User ReadUser(const SqlQuery& q) {
  return {q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Int(4) != 0, q.Int(5)};
}
// The ids as the dialect binds a list: integers only, so never text from a request.
std::string IdList(std::span<const Id> ids, const char* brackets) {
  std::string out(1, brackets[0]);
  for (const Id id : ids) {
    if (out.size() > 1) out += ',';
    out += std::to_string(id);
  }
  return out + brackets[1];
}

std::vector<Comment> ReadComments(SqlQuery& q) {
  std::vector<Comment> out;
  while (q.Next()) out.push_back({q.Int(0), q.Int(1), q.Int(2), q.Text(3), q.Int(4)});
  return out;
}

Program ReadProgram(const SqlQuery& q) {
  return {q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Text(4),
          q.Text(5), q.Text(6), q.Text(7), q.Text(8), q.Int(9)};
}

class SqlTransaction final : public Transaction {
 public:
  SqlTransaction(SqlConnection& c, const SqlDialect& dialect, std::unique_ptr<SqlLease> lease)
      : c_(c), d_(dialect), lease_(std::move(lease)) {
    c_.set_error_sink(&error_);
  }
  ~SqlTransaction() override {
    if (!done_) c_.Exec("ROLLBACK").IgnoreError();  // an unfinished request leaves nothing
    Release();
  }

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
    SqlQuery q(c_, "INSERT INTO users (email, name, credential, is_guest, created_at) "
                "VALUES (NULLIF(?, ''), ?, ?, ?, ?) RETURNING id");
    q.Bind(u.email).Bind(u.name).Bind(u.credential).Bind(std::int64_t{u.is_guest}).Bind(u.created_at);
    return InsertedId(q);
  }
  std::optional<User> FindUser(Id id) override {
    SqlQuery q(c_, "SELECT id, COALESCE(email, ''), name, credential, is_guest, created_at "
                "FROM users WHERE id = ?");
    q.Bind(id);
    if (!q.Next()) return std::nullopt;
    return ReadUser(q);
  }
  std::optional<User> FindUserByEmail(std::string_view email) override {
    SqlQuery q(c_, "SELECT id, COALESCE(email, ''), name, credential, is_guest, created_at "
                "FROM users WHERE email = ?");
    q.Bind(email);
    if (!q.Next()) return std::nullopt;
    return ReadUser(q);
  }
  Status UpdateUser(const User& u) override {
    SqlQuery q(c_, "UPDATE users SET email = NULLIF(?, ''), name = ?, credential = ?, is_guest = ? "
                "WHERE id = ?");
    return q.Bind(u.email).Bind(u.name).Bind(u.credential).Bind(std::int64_t{u.is_guest}).Bind(u.id).Run();
  }
  Status MergeUser(Id from, Id to) override {
#define KV_SHARED_MACHINES \
  "SELECT id FROM machines WHERE user_id = ?2 AND guid IN (SELECT guid FROM machines WHERE user_id = ?1)"
    // A rating the new account already has wins over the guest's; a machine
    // both know keeps the guest's side, which is what it reported last.
    static const char* const kSteps[] = {
        "UPDATE ratings SET user_id = ?2 WHERE user_id = ?1 AND program_id NOT IN "
        "(SELECT program_id FROM ratings WHERE user_id = ?2)",
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
      SqlQuery q(c_, sql);
      if (Status s = q.Bind(from).Bind(to).Run(); !s) return s;
    }
    return Status::Ok();
  }

  Result<Id> TouchMachine(std::string_view guid, Id user_id, std::string_view build,
                          std::int64_t now) override {
    SqlQuery q(c_, "INSERT INTO machines (guid, user_id, client_build, last_seen) VALUES (?, ?, ?, ?) "
                "ON CONFLICT (user_id, guid) DO UPDATE SET client_build = excluded.client_build, last_seen = excluded.last_seen "
                "RETURNING id");
    q.Bind(guid).Bind(user_id).Bind(build).Bind(now);
    if (!q.Next()) return q.status().ok() ? Status::Error(ErrorKind::Other, "no machine") : q.status();
    return q.Int(0);
  }

  std::optional<Machine> FindMachine(Id user_id, std::string_view guid) override {
    SqlQuery q(c_, "SELECT id, guid, user_id, client_build, last_seen FROM machines "
                "WHERE user_id = ? AND guid = ?");
    if (!q.Bind(user_id).Bind(guid).Next()) return std::nullopt;
    return Machine{q.Int(0), q.Text(1), q.Int(2), q.Text(3), q.Int(4)};
  }

  Result<Id> AddProgram(const Program& p) override {
    SqlQuery q(c_, "INSERT INTO programs (match_key, name, publisher, short_name, publisher_short, "
                "home_page, stable_version, beta_version, created_at) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id");
    q.Bind(p.match_key).Bind(p.name).Bind(p.publisher).Bind(p.short_name).Bind(p.publisher_short)
        .Bind(p.home_page).Bind(p.stable_version).Bind(p.beta_version).Bind(p.created_at);
    return InsertedId(q);
  }
  Status UpdateProgram(const Program& p) override {
    SqlQuery q(c_, "UPDATE programs SET match_key = ?, name = ?, publisher = ?, short_name = ?, "
                "publisher_short = ?, home_page = ?, stable_version = ?, beta_version = ? "
                "WHERE id = ?");
    return q.Bind(p.match_key).Bind(p.name).Bind(p.publisher).Bind(p.short_name)
        .Bind(p.publisher_short).Bind(p.home_page).Bind(p.stable_version).Bind(p.beta_version)
        .Bind(p.id).Run();
  }
  std::optional<Program> FindProgram(Id id) override {
    SqlQuery q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs WHERE id = ?");
    q.Bind(id);
    if (!q.Next()) return std::nullopt;
    return ReadProgram(q);
  }
  std::optional<Program> FindProgramByKey(std::string_view key) override {
    SqlQuery q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs WHERE match_key = ?");
    q.Bind(key);
    if (!q.Next()) return std::nullopt;
    return ReadProgram(q);
  }
  std::optional<Program> FindProgramByShortName(std::string_view name) override {
    SqlQuery q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs WHERE short_name = ?");
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
      SqlQuery q(c_, sql.c_str());
      for (std::size_t i = 0; i < kBatch; ++i) {
        q.Bind(keys[start + i < keys.size() ? start + i : start]);
      }
      while (q.Next()) out.emplace(q.Text(0), q.Int(1));
    }
    return out;
  }
  std::vector<Program> ListPrograms(std::string_view text, std::size_t limit) override {
    SqlQuery q(c_, d_.list_programs);
    q.Bind(text).Bind(static_cast<std::int64_t>(limit));
    std::vector<Program> out;
    while (q.Next()) out.push_back(ReadProgram(q));
    return out;
  }

  std::vector<Program> ProgramsOfPublisher(std::string_view publisher_short,
                                           std::size_t limit) override {
    SqlQuery q(c_, "SELECT " KV_PROGRAM_COLUMNS " FROM programs "
                "WHERE publisher_short = ? ORDER BY name, id LIMIT ?");
    q.Bind(publisher_short).Bind(static_cast<std::int64_t>(limit));
    std::vector<Program> out;
    while (q.Next()) out.push_back(ReadProgram(q));
    return out;
  }

  Status PutInstall(const Install& i) override {
    SqlQuery q(c_, "INSERT INTO installs (machine_id, program_id, user_id, version, is_beta, "
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
    SqlQuery q(c_, "DELETE FROM installs WHERE machine_id = ? AND program_id = ?");
    return q.Bind(machine_id).Bind(program_id).Run();
  }
  std::vector<Install> InstallsOn(Id machine_id) override {
    SqlQuery q(c_, "SELECT machine_id, program_id, user_id, version, is_beta, display_name, "
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
    SqlQuery q(c_, "SELECT i.machine_id, i.program_id, i.user_id, i.version, i.is_beta, "
                "i.display_name, i.reported_name, i.updated_at, "
                "p.id, p.short_name, p.publisher_short, p.stable_version, p.beta_version, "
                "COALESCE(s.users, 0), COALESCE(s.comments, 0), COALESCE(s.questions, 0), "
                "COALESCE(s.ratings, 0), COALESCE(s.rating_sum, 0), COALESCE(s.learned_stable, ''), "
                "COALESCE(s.learned_beta, ''), COALESCE(r.rating, 0), "
                "CASE WHEN EXISTS (SELECT 1 FROM icons c WHERE c.program_id = i.program_id) THEN 1 ELSE 0 END "
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
    SqlQuery q(c_, "SELECT 1 FROM installs WHERE user_id = ? AND program_id = ? LIMIT 1");
    return q.Bind(user_id).Bind(program_id).Next();
  }
  std::vector<Id> ProgramsOfUser(Id user_id) override {
    SqlQuery q(c_, "SELECT DISTINCT program_id FROM installs WHERE user_id = ? ORDER BY program_id");
    q.Bind(user_id);
    std::vector<Id> out;
    while (q.Next()) out.push_back(q.Int(0));
    return out;
  }
  std::vector<UserInstall> InstallsOfUser(Id user_id, std::size_t limit) override {
    SqlQuery q(c_, "SELECT DISTINCT p.id, p.name, p.short_name, p.publisher, p.publisher_short, "
                "p.stable_version, p.beta_version, i.version, i.is_beta, "
                "COALESCE(s.users, 0), COALESCE(s.comments, 0), COALESCE(s.questions, 0), "
                "COALESCE(s.ratings, 0), COALESCE(s.rating_sum, 0), COALESCE(s.learned_stable, ''), "
                "COALESCE(s.learned_beta, ''), lower(p.name) "
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
  // The ids travel as one bound parameter: one statement for any number.
  std::map<Id, ProgramCounters> CountersOf(std::span<const Id> programs) override {
    SqlQuery q(c_, d_.counters_of);
    q.Bind(IdList(programs, d_.id_list_brackets));
    std::map<Id, ProgramCounters> out;
    while (q.Next()) out[q.Int(0)] = {q.Int(1), q.Int(2), 0, q.Int(3), q.Int(4)};
    return out;
  }
  std::map<Id, std::vector<VersionSeen>> VersionsSeenOf(std::span<const Id> programs) override {
    SqlQuery q(c_, d_.versions_seen_of);
    q.Bind(IdList(programs, d_.id_list_brackets));
    std::map<Id, std::vector<VersionSeen>> out;
    while (q.Next()) out[q.Int(0)].push_back({q.Text(1), q.Int(2) != 0, q.Int(3)});
    return out;
  }
  Status PutProgramStats(Id program_id, const ProgramStats& s) override {
    SqlQuery q(c_, "INSERT INTO program_stats (program_id, users, comments, questions, ratings, "
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
    SqlQuery q(c_, "SELECT users, comments, questions, ratings, rating_sum, learned_stable, "
                "learned_beta FROM program_stats WHERE program_id = ?");
    if (!q.Bind(program_id).Next()) return std::nullopt;
    return ProgramStats{{q.Int(0), q.Int(1), q.Int(2), q.Int(3), q.Int(4)}, q.Text(5), q.Text(6)};
  }

  Result<Id> AddComment(const Comment& c) override {
    SqlQuery q(c_, "INSERT INTO comments (program_id, user_id, body, created_at) VALUES (?, ?, ?, ?) "
                   "RETURNING id");
    q.Bind(c.program_id).Bind(c.user_id).Bind(c.text).Bind(c.created_at);
    return InsertedId(q);
  }
  std::vector<Comment> CommentsOn(Id program_id, std::size_t limit) override {
    SqlQuery q(c_, "SELECT id, program_id, user_id, body, created_at FROM comments "
                "WHERE program_id = ? ORDER BY created_at DESC, id DESC LIMIT ?");
    q.Bind(program_id).Bind(static_cast<std::int64_t>(limit));
    return ReadComments(q);
  }
  std::vector<Comment> CommentsBy(Id user_id, std::size_t limit) override {
    SqlQuery q(c_, "SELECT id, program_id, user_id, body, created_at FROM comments "
                "WHERE user_id = ? ORDER BY created_at DESC, id DESC LIMIT ?");
    q.Bind(user_id).Bind(static_cast<std::int64_t>(limit));
    return ReadComments(q);
  }
  Status SetRating(Id user_id, Id program_id, int rating) override {
    if (rating <= 0) {
      SqlQuery q(c_, "DELETE FROM ratings WHERE user_id = ? AND program_id = ?");
      return q.Bind(user_id).Bind(program_id).Run();
    }
    SqlQuery q(c_, "INSERT INTO ratings (user_id, program_id, rating) VALUES (?, ?, ?) "
                "ON CONFLICT (user_id, program_id) DO UPDATE SET rating = excluded.rating");
    return q.Bind(user_id).Bind(program_id).Bind(std::int64_t{rating}).Run();
  }
  int RatingOf(Id user_id, Id program_id) override {
    SqlQuery q(c_, "SELECT rating FROM ratings WHERE user_id = ? AND program_id = ?");
    return q.Bind(user_id).Bind(program_id).Next() ? static_cast<int>(q.Int(0)) : 0;
  }

  Status PutIcon(Id program_id, std::string_view ico) override {
    SqlQuery q(c_, "INSERT INTO icons (program_id, data, updated_at) VALUES (?, ?, ?) "
                "ON CONFLICT (program_id) DO UPDATE SET data = excluded.data, "
                "updated_at = excluded.updated_at");
    return q.Bind(program_id).BindBlob(ico).Bind(std::int64_t{std::time(nullptr)}).Run();
  }
  bool HasIcon(Id program_id) override {
    SqlQuery q(c_, "SELECT 1 FROM icons WHERE program_id = ?");
    return q.Bind(program_id).Next();
  }

  Status PutAssociations(Id machine_id, std::string_view document, std::int64_t now) override {
    SqlQuery q(c_, "INSERT INTO associations (machine_id, document, received_at) VALUES (?, ?, ?) "
                "ON CONFLICT (machine_id) DO UPDATE SET document = excluded.document, "
                "received_at = excluded.received_at");
    return q.Bind(machine_id).Bind(document).Bind(now).Run();
  }
  Status AddUsageLog(Id machine_id, std::string_view log, std::int64_t now,
                     std::size_t cap) override {
    {
      SqlQuery q(c_, "INSERT INTO usage_logs (machine_id, received_at, data) VALUES (?, ?, ?)");
      if (Status s = q.Bind(machine_id).Bind(now).BindBlob(log).Run(); !s) return s;
    }
    // Oldest first out until the machine's logs fit the cap again.
    SqlQuery q(c_, "DELETE FROM usage_logs WHERE machine_id = ?1 AND id IN ("
                " SELECT id FROM (SELECT id, SUM(length(data)) OVER (ORDER BY id DESC) AS upto"
                 " FROM usage_logs WHERE machine_id = ?1) AS newest_first WHERE upto > ?2)");
    return q.Bind(machine_id).Bind(static_cast<std::int64_t>(cap)).Run();
  }
  std::int64_t UsageLogBytes(Id machine_id) override {
    SqlQuery q(c_, "SELECT COALESCE(SUM(length(data)), 0) FROM usage_logs WHERE machine_id = ?");
    return q.Bind(machine_id).Next() ? q.Int(0) : 0;
  }

  Result<Id> AddNews(const NewsItem& n) override {
    SqlQuery q(c_, "INSERT INTO news (date_text, title, url, posted_at) VALUES (?, ?, ?, ?) "
                   "RETURNING id");
    q.Bind(n.date).Bind(n.title).Bind(n.url).Bind(n.posted_at);
    return InsertedId(q);
  }
  std::vector<NewsItem> UnseenNews(Id machine_id) override {
    SqlQuery q(c_, "SELECT id, date_text, title, url, posted_at FROM news WHERE id NOT IN "
                "(SELECT news_id FROM news_seen WHERE machine_id = ?) ORDER BY posted_at, id");
    q.Bind(machine_id);
    std::vector<NewsItem> out;
    while (q.Next()) out.push_back({q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Int(4)});
    return out;
  }
  Status MarkNewsSeen(Id machine_id, Id news_id) override {
    SqlQuery q(c_, "INSERT INTO news_seen (machine_id, news_id) VALUES (?, ?) ON CONFLICT DO NOTHING");
    return q.Bind(machine_id).Bind(news_id).Run();
  }

  std::vector<NewsItem> LatestNews(std::size_t limit) override {
    SqlQuery q(c_, "SELECT id, date_text, title, url, posted_at FROM news "
                "ORDER BY posted_at DESC, id DESC LIMIT ?");
    q.Bind(static_cast<std::int64_t>(limit));
    std::vector<NewsItem> out;
    while (q.Next()) out.push_back({q.Int(0), q.Text(1), q.Text(2), q.Text(3), q.Int(4)});
    return out;
  }

  Result<Id> AddBugReport(const BugReport& r) override {
    SqlQuery q(c_, "INSERT INTO bug_reports (kind, email, body, peer, received_at) "
                   "VALUES (?, ?, ?, ?, ?) RETURNING id");
    q.Bind(r.kind).Bind(r.email).Bind(r.text).Bind(r.peer).Bind(r.received_at);
    return InsertedId(q);
  }
  Status AddPasswordReminder(std::string_view email, Id user_id, std::string_view peer,
                             std::int64_t now) override {
    SqlQuery q(c_, "INSERT INTO password_reminders (email, user_id, peer, requested_at) "
                "VALUES (?, NULLIF(CAST(? AS BIGINT), 0), ?, ?)");
    return q.Bind(email).Bind(user_id).Bind(peer).Bind(now).Run();
  }

  SiteCounts Counts() override {
    SiteCounts c;
    SqlQuery q(c_, "SELECT (SELECT COUNT(*) FROM programs), "
                "(SELECT COUNT(DISTINCT publisher_short) FROM programs WHERE publisher_short <> ''), "
                "(SELECT COUNT(*) FROM users), (SELECT COUNT(*) FROM news)");
    if (q.Next()) c = {q.Int(0), q.Int(1), q.Int(2), q.Int(3)};
    return c;
  }

  std::optional<AttemptWindow> FindAttemptWindow(std::string_view kind,
                                                 std::string_view address) override {
    SqlQuery q(c_, "SELECT window_start, events FROM attempt_windows WHERE kind = ? AND address = ?");
    if (!q.Bind(kind).Bind(address).Next()) return std::nullopt;
    return AttemptWindow{q.Int(0), q.Int(1)};
  }
  Status PutAttemptWindow(std::string_view kind, std::string_view address,
                          const AttemptWindow& w) override {
    SqlQuery q(c_, "INSERT INTO attempt_windows (kind, address, window_start, events) "
                   "VALUES (?, ?, ?, ?) ON CONFLICT (kind, address) DO UPDATE SET "
                   "window_start = excluded.window_start, events = excluded.events");
    return q.Bind(kind).Bind(address).Bind(w.start).Bind(w.events).Run();
  }
  Status ForgetAttemptWindows(std::string_view kind, std::int64_t start) override {
    SqlQuery q(c_, "DELETE FROM attempt_windows WHERE kind = ? AND window_start < ?");
    return q.Bind(kind).Bind(start).Run();
  }

  std::optional<std::string> Setting(std::string_view name) override {
    SqlQuery q(c_, "SELECT value FROM settings WHERE name = ?");
    if (!q.Bind(name).Next()) return std::nullopt;
    return q.Text(0);
  }
  Status PutSetting(std::string_view name, std::string_view value) override {
    SqlQuery q(c_, "INSERT INTO settings (name, value) VALUES (?, ?) "
                "ON CONFLICT (name) DO UPDATE SET value = excluded.value");
    return q.Bind(name).Bind(value).Run();
  }

 private:
  // Hands the connection back (and lets the next writer in).
  void Release() {
    if (!lease_) return;
    c_.set_error_sink(nullptr);
    lease_.reset();
  }

  SqlConnection& c_;
  const SqlDialect& d_;
  std::unique_ptr<SqlLease> lease_;
  Status error_;
  bool done_ = false;
};

}  // namespace

Result<std::unique_ptr<Transaction>> BeginSqlTransaction(SqlConnection& c, const SqlDialect& dialect,
                                                         std::unique_ptr<SqlLease> lease,
                                                         std::string_view begin) {
  if (Status s = c.Exec(begin); !s) return s;
  return std::unique_ptr<Transaction>(
      std::make_unique<SqlTransaction>(c, dialect, std::move(lease)));
}

}  // namespace kv::server
