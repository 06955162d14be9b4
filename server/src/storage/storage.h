#pragma once
// The service's storage, behind an interface of its own so that a second
// database can follow SQLite. Every request runs in one transaction: it
// reads and writes through a Transaction and commits at the end; a
// transaction destroyed without Commit() rolls back, so a request that fails
// half-way leaves nothing behind. A statement that fails marks its
// transaction: lookups then answer as if nothing were found, status() says
// why, and Commit() refuses, so an error never passes for an empty answer.
// Times are seconds since 1970 (UTC).
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kv::server {

using platform::Result;
using platform::Status;
using Id = std::int64_t;

struct User {
  Id id = 0;
  std::string email;       // lower case; empty for a guest
  std::string name;
  std::string credential;  // a slow salted hash of what the client sends as `password`
  bool is_guest = false;
  std::int64_t created_at = 0;
};

// A machine as its owner knows it: one GUID may appear under several
// accounts (whoever signed in on it), never twice under one.
struct Machine {
  Id id = 0;
  std::string guid;
  Id user_id = 0;
  std::string client_build;
  std::int64_t last_seen = 0;
};

// A catalogue entry: one program as the service knows it.
struct Program {
  Id id = 0;
  std::string match_key;   // how reports find it (unique)
  std::string name;
  std::string publisher;
  std::string short_name;  // its page's host label (unique)
  std::string publisher_short;
  std::string home_page;
  std::string stable_version;  // set by an operator; empty: learned from users
  std::string beta_version;
  std::int64_t created_at = 0;
};

// A program installed on a machine, as the machine last reported it. Two
// entries of one program (a 32-bit and a 64-bit runtime) are told apart by
// the display name they were reported under.
struct Install {
  Id machine_id = 0;
  Id program_id = 0;
  Id user_id = 0;
  std::string version;  // the client's formatted version
  bool is_beta = false;
  std::string display_name;  // as reported: later answers name it by this
  std::string reported_name;
  std::int64_t updated_at = 0;  // when it last changed
};

// What an answer says about one program besides its versions.
struct ProgramCounters {
  std::int64_t users = 0;  // distinct users with it installed
  std::int64_t comments = 0;
  std::int64_t questions = 0;
  std::int64_t ratings = 0;
  std::int64_t rating_sum = 0;
};

// A version of a program and how many users have it installed now.
struct VersionSeen {
  std::string version;
  bool is_beta = false;
  std::int64_t users = 0;
};

// What answers say about a program, kept up to date as installs, comments
// and ratings change, so that an answer reads it instead of counting.
struct ProgramStats {
  ProgramCounters counters;
  std::string learned_stable;  // versions learned from users ("": none yet)
  std::string learned_beta;
};

// One install on a machine with all an answer says about its program.
struct InstalledProgram {
  Install install;
  Program program;  // only what answers name: id, page names and versions
  ProgramStats stats;
  int user_rating = 0;  // the machine's user's
  bool has_icon = false;
};

struct Comment {
  Id id = 0;
  Id program_id = 0;
  Id user_id = 0;
  std::string text;
  std::int64_t created_at = 0;
};

struct NewsItem {
  Id id = 0;
  std::string date;  // as shown
  std::string title;
  std::string url;
  std::int64_t posted_at = 0;
};

// A program installed on some machine of a user, for the user's page.
struct UserInstall {
  Program program;  // id, name, short_name, publisher, operator's versions
  ProgramStats stats;
  std::string version;
  bool is_beta = false;
};

// What the site's bug-report form received.
struct BugReport {
  std::string kind;  // "client", "site", ...
  std::string email;
  std::string text;
  std::string peer;
  std::int64_t received_at = 0;
};

// A rate limit's count of one address's events in the window that began at `start`.
struct AttemptWindow {
  std::int64_t start = 0;
  std::int64_t events = 0;
};

struct SiteCounts {
  std::int64_t programs = 0;
  std::int64_t publishers = 0;
  std::int64_t users = 0;
  std::int64_t news = 0;
};

class Transaction {
 public:
  virtual ~Transaction() = default;
  // Makes every change of this transaction lasting. Without it, nothing is.
  // Fails, committing nothing, once any statement of it has failed.
  virtual Status Commit() = 0;
  // The first failure of a statement of this transaction, or OK.
  virtual Status status() const = 0;

  // Users. Emails compare as stored (callers lower-case them).
  virtual Result<Id> AddUser(const User& user) = 0;
  virtual std::optional<User> FindUser(Id id) = 0;
  virtual std::optional<User> FindUserByEmail(std::string_view email) = 0;
  virtual Status UpdateUser(const User& user) = 0;
  // A guest that registered: its machines, installs, ratings and comments
  // become `to`'s, and the guest is deleted. A machine both accounts know
  // keeps what the guest last reported.
  virtual Status MergeUser(Id from, Id to) = 0;

  // The user's machine of this GUID: created on first sight, build and time
  // updated.
  virtual Result<Id> TouchMachine(std::string_view guid, Id user_id, std::string_view build,
                                  std::int64_t now) = 0;
  virtual std::optional<Machine> FindMachine(Id user_id, std::string_view guid) = 0;

  // The catalogue.
  virtual Result<Id> AddProgram(const Program& program) = 0;
  virtual Status UpdateProgram(const Program& program) = 0;
  virtual std::optional<Program> FindProgram(Id id) = 0;
  virtual std::optional<Program> FindProgramByKey(std::string_view match_key) = 0;
  virtual std::optional<Program> FindProgramByShortName(std::string_view short_name) = 0;
  // The ids of the entries with these match keys (those that exist).
  virtual std::map<std::string, Id> ProgramIdsByKey(std::span<const std::string> keys) = 0;
  // The publisher's programs, by name.
  virtual std::vector<Program> ProgramsOfPublisher(std::string_view publisher_short,
                                                   std::size_t limit) = 0;
  // Programs whose name contains `text` (any case), by name; all when empty.
  virtual std::vector<Program> ListPrograms(std::string_view text, std::size_t limit) = 0;

  // Installs, by (machine, program, display name).
  virtual Status PutInstall(const Install& install) = 0;
  // Every entry of the program on the machine.
  virtual Status RemoveInstall(Id machine_id, Id program_id) = 0;
  virtual std::vector<Install> InstallsOn(Id machine_id) = 0;
  // Every install on the machine with its program, stats, the user's rating
  // and whether an icon exists, by program and display name: one query for
  // a whole answer, the largest part of the most frequent request.
  virtual std::vector<InstalledProgram> ProgramsOn(Id machine_id, Id user_id) = 0;
  // Whether any machine of the user has the program.
  virtual bool IsInstalledBy(Id user_id, Id program_id) = 0;
  // The programs installed on any of the user's machines.
  virtual std::vector<Id> ProgramsOfUser(Id user_id) = 0;

  // What the user's machines have installed, one row per program and
  // version, by program name.
  virtual std::vector<UserInstall> InstallsOfUser(Id user_id, std::size_t limit) = 0;

  // Counted from the tables (what the stats are made from), for many
  // programs at once: a report changes hundreds.
  virtual std::map<Id, ProgramCounters> CountersOf(std::span<const Id> programs) = 0;
  // The versions of each program installed now, with their user counts.
  virtual std::map<Id, std::vector<VersionSeen>> VersionsSeenOf(std::span<const Id> programs) = 0;
  ProgramCounters Counters(Id program_id) { return CountersOf({&program_id, 1})[program_id]; }
  std::vector<VersionSeen> VersionsSeen(Id program_id) {
    return VersionsSeenOf({&program_id, 1})[program_id];
  }
  virtual Status PutProgramStats(Id program_id, const ProgramStats& stats) = 0;
  virtual std::optional<ProgramStats> StatsOf(Id program_id) = 0;

  // Community.
  virtual Result<Id> AddComment(const Comment& comment) = 0;
  virtual std::vector<Comment> CommentsOn(Id program_id, std::size_t limit) = 0;
  // The user's comments, newest first.
  virtual std::vector<Comment> CommentsBy(Id user_id, std::size_t limit) = 0;
  // Replaces the user's earlier rating of the program; 0 removes it.
  virtual Status SetRating(Id user_id, Id program_id, int rating) = 0;
  virtual int RatingOf(Id user_id, Id program_id) = 0;

  // Icons (one per program, an .ico file).
  virtual Status PutIcon(Id program_id, std::string_view ico) = 0;
  virtual bool HasIcon(Id program_id) = 0;

  // What a machine sent about itself.
  virtual Status PutAssociations(Id machine_id, std::string_view document, std::int64_t now) = 0;
  // Appends a usage log and drops the machine's oldest ones beyond `cap` bytes.
  virtual Status AddUsageLog(Id machine_id, std::string_view log, std::int64_t now,
                             std::size_t cap) = 0;
  virtual std::int64_t UsageLogBytes(Id machine_id) = 0;

  // News, each shown once per machine.
  virtual Result<Id> AddNews(const NewsItem& item) = 0;
  virtual std::vector<NewsItem> UnseenNews(Id machine_id) = 0;
  virtual Status MarkNewsSeen(Id machine_id, Id news_id) = 0;

  // Newest first.
  virtual std::vector<NewsItem> LatestNews(std::size_t limit) = 0;

  virtual SiteCounts Counts() = 0;

  // What the site's forms receive; `user_id` 0: the address is unknown.
  virtual Result<Id> AddBugReport(const BugReport& report) = 0;
  virtual Status AddPasswordReminder(std::string_view email, Id user_id, std::string_view peer,
                                     std::int64_t now) = 0;

  // Rate limits' windows, by limit (`kind`) and address.
  virtual std::optional<AttemptWindow> FindAttemptWindow(std::string_view kind,
                                                         std::string_view address) = 0;
  virtual Status PutAttemptWindow(std::string_view kind, std::string_view address,
                                  const AttemptWindow& window) = 0;
  // Drops the limit's windows that began before `start`.
  virtual Status ForgetAttemptWindows(std::string_view kind, std::int64_t start) = 0;

  // The service's own settings that must outlive a restart.
  virtual std::optional<std::string> Setting(std::string_view name) = 0;
  virtual Status PutSetting(std::string_view name, std::string_view value) = 0;
};

class Storage {
 public:
  virtual ~Storage() = default;
  // A transaction; `write` ones are serialised, read-only ones run beside them.
  virtual Result<std::unique_ptr<Transaction>> Begin(bool write) = 0;
  // The schema version the database is at.
  virtual int SchemaVersion() = 0;
};

}  // namespace kv::server
