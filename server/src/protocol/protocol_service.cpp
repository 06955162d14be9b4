#include "protocol/protocol_service.h"

#include <charconv>
#include <ctime>
#include <limits>
#include <map>
#include <set>

#include "catalogue/catalogue_admin.h"
#include "catalogue/program_key.h"
#include "inventory/version.h"
#include "protocol/answer.h"
#include "protocol/ico_file.h"
#include "service/zip_archive.h"
#include "store/xml_store.h"
#include "text/chars.h"
#include "text/compare.h"

namespace kv::server {
namespace {

// Ends a request with an answer of this code; the transaction rolls back.
struct Refusal {
  std::string code;
  std::string message;
};

[[noreturn]] void Refuse(std::string code, std::string message = {}) {
  throw Refusal{std::move(code), std::move(message)};
}

void Check(const Status& s) {
  if (!s) Refuse("UnexpectedError", "storage: " + s.message());
}
template <typename T>
T Check(Result<T> r) {
  if (!r) Refuse("UnexpectedError", "storage: " + r.status().message());
  return std::move(r).value();
}

std::optional<Id> ParseId(std::string_view text) {
  Id value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

std::string Normalised(std::string_view text) {
  inventory::ProgramVersion v;
  if (!inventory::ParseVersion(text, v)) return {};
  return inventory::FormatVersion(v);
}

// One program of a report.
struct Reported {
  ReportedProgram program;
  bool beta_given = false;  // whether the report said which kind it is
};

// Inflated bytes of an uploaded usage log that are read at all.
constexpr std::uint64_t kMaxUsageLog = 64u << 20;

constexpr char kLoginFailure[] = "The e-mail address or the password is not right.";

// A machine identifier as the client makes it: 32 hexadecimal digits.
std::optional<std::string> MachineGuid(std::string_view text) {
  if (text.size() != 32) return std::nullopt;
  for (const char ch : text) {
    const bool hex = (ch >= '0' && ch <= '9') || ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'f');
    if (!hex) return std::nullopt;
  }
  return text::ToUpper(text);
}

}  // namespace

struct ProtocolService::Context {
  const RequestFields& fields;
  std::string_view peer;
  std::int64_t now = 0;
  std::unique_ptr<Transaction> tx;  // the request's write transaction, once begun
  User user;                        // the account, once its credential was checked
  Id machine = 0;
};

ProtocolService::ProtocolService(Storage& storage, Credentials& credentials,
                                 ServiceOptions options, Clock clock)
    : storage_(storage),
      credentials_(credentials),
      options_(std::move(options)),
      clock_(clock ? std::move(clock) : Clock([] { return std::int64_t(std::time(nullptr)); })),
      failed_sign_ins_(storage, "protocol_sign_in", options_.failed_sign_ins_per_minute, 60),
      new_accounts_(storage, "new_account", options_.new_accounts_per_minute, 60) {}

std::string ProtocolService::Malformed(std::string_view why) {
  return ResultAnswer("ExtendedError", "The request could not be read: " + std::string(why));
}

Status ProtocolService::Prepare() {
  auto begun = storage_.Begin(true);
  if (!begun) return begun.status();
  const std::unique_ptr<Transaction> owned = std::move(begun).value();
  Transaction& tx = *owned;
  const std::string threshold = std::to_string(options_.learn_threshold);
  if (tx.Setting("learn_threshold") == threshold) return tx.status();
  try {
    std::vector<Id> all;
    for (const Program& p : tx.ListPrograms("", std::numeric_limits<std::int64_t>::max())) {
      all.push_back(p.id);
    }
    RefreshStats(tx, all);
  } catch (const Refusal& r) {
    return Status::Error(platform::ErrorKind::Other, r.message);
  }
  if (Status s = tx.PutSetting("learn_threshold", threshold); !s) return s;
  return tx.Commit();
}

std::string ProtocolService::Handle(std::string_view mode, const RequestFields& fields,
                                    std::string_view peer) {
  using Handler = std::string (ProtocolService::*)(Context&);
  static const std::map<std::string_view, Handler> kModes = {
      {"get_id", &ProtocolService::GetId},
      {"add_guest", &ProtocolService::AddGuest},
      {"add_user", &ProtocolService::AddUser},
      {"add_programs", &ProtocolService::AddPrograms},
      {"check_updates", &ProtocolService::CheckUpdates},
      {"upload_icons", &ProtocolService::UploadIcons},
      {"add_comment", &ProtocolService::AddComment},
      {"rate_program", &ProtocolService::RateProgram},
      {"add_extensions", &ProtocolService::AddExtensions},
      {"add_usagelog", &ProtocolService::AddUsageLog},
  };
  // Old clients learn where the new one is, whatever they asked.
  if (options_.min_build > 0) {
    int build = 0;
    const std::string_view text = fields.Value("client_build");
    std::from_chars(text.data(), text.data() + text.size(), build);
    if (build < options_.min_build) {
      return AnswerDocument("OldClientVersion", "Please update Korvan.", options_.update_url,
                            options_.installer_params)
          .Finish();
    }
  }
  const auto found = kModes.find(mode);
  if (found == kModes.end()) return ResultAnswer("ExtendedError", "Unknown request.");
  try {
    Context c{fields, peer, clock_(), nullptr, {}, 0};
    return (this->*found->second)(c);
  } catch (const Refusal& r) {
    return ResultAnswer(r.code, r.message);
  }
}

// ---- accounts --------------------------------------------------------------
//
// Checking a credential is slow on purpose, so it happens before the write
// transaction (which serialises every writer); under the write lock the
// account is read again and must still hold the credential that was checked.

namespace {

void WriteUser(store::XmlWriter& w, const User& user, const std::string& site_origin,
               std::string_view issued_secret = {}) {
  w.Open(" ", "User");
  w.Text("  ", "Id", std::to_string(user.id));
  if (!issued_secret.empty()) w.Text("  ", "Password", issued_secret);
  if (!user.email.empty()) {
    w.Text("  ", "Login", user.email);
    w.Text("  ", "Email", user.email);
  }
  if (!user.name.empty()) w.Text("  ", "Name", user.name);
  w.Text("  ", "UserPageURL", site_origin + "/user/" + std::to_string(user.id) + "/");
  w.Close(" ", "User");
}

// The account under the write lock, as it was when its credential was checked.
User StillTheSame(Transaction& tx, const User& checked) {
  const auto now = tx.FindUser(checked.id);
  Check(tx.status());
  if (!now || now->credential != checked.credential) Refuse("LoginFailure", kLoginFailure);
  return *now;
}

}  // namespace

namespace {

std::optional<User> NamedUser(Transaction& tx, const RequestFields& f) {
  std::optional<User> user;
  if (const auto id = ParseId(f.Value("id"))) user = tx.FindUser(*id);
  else if (!f.Value("email").empty()) user = tx.FindUserByEmail(text::ToLower(f.Value("email")));
  Check(tx.status());
  return user;
}

}  // namespace

bool ProtocolService::AuthenticateQuickly(Context& c, Transaction& read) {
  const auto user = NamedUser(read, c.fields);
  if (!user || !credentials_.IsRemembered(user->credential, c.fields.Value("password"))) {
    return false;
  }
  c.user = *user;
  return true;
}

void ProtocolService::Authenticate(Context& c) {
  std::optional<User> user;
  {
    auto tx = Check(storage_.Begin(false));
    user = NamedUser(*tx, c.fields);
  }
  if (user && credentials_.IsRemembered(user->credential, c.fields.Value("password"))) {
    c.user = *user;
    return;
  }
  // Only the slow check is limited: a client whose credential was verified
  // lately is never turned away because others at its address failed.
  if (!failed_sign_ins_.Allows(c.peer, c.now)) {
    Refuse("LoginFailure", "Too many failed sign-ins from your address. Please wait a minute.");
  }
  if (!user || !credentials_.Verify(user->credential, c.fields.Value("password"))) {
    failed_sign_ins_.Count(c.peer, c.now);
    Refuse("LoginFailure", kLoginFailure);
  }
  c.user = *user;
}

void ProtocolService::BeginWrite(Context& c) {
  c.tx = Check(storage_.Begin(true));
  if (c.user.id != 0) c.user = StillTheSame(*c.tx, c.user);
}

void ProtocolService::TouchMachine(Context& c) {
  const auto guid = MachineGuid(c.fields.Value("GUID"));
  if (!guid) Refuse("ExtendedError", "The machine identifier is missing or not valid.");
  c.machine = Check(c.tx->TouchMachine(*guid, c.user.id, c.fields.Value("client_build"), c.now));
}

std::string ProtocolService::GetId(Context& c) {
  if (c.fields.Value("email").empty()) Refuse("LoginFailure", kLoginFailure);
  Authenticate(c);
  BeginWrite(c);
  TouchMachine(c);
  Check(c.tx->Commit());
  AnswerDocument answer;
  WriteUser(answer.writer(), c.user, options_.site_origin);
  return answer.Finish();
}

std::string ProtocolService::AddGuest(Context& c) {
  if (!MachineGuid(c.fields.Value("GUID"))) {
    Refuse("ExtendedError", "The machine identifier is missing or not valid.");
  }
  if (!new_accounts_.Take(c.peer, c.now)) {
    Refuse("ExtendedError", "Too many new accounts from your address. Please try again later.");
  }
  const std::string secret = Credentials::NewGuestSecret();
  User guest;
  guest.is_guest = true;
  guest.created_at = c.now;
  guest.credential = Check(credentials_.Hash(secret));
  BeginWrite(c);
  c.user = guest;
  c.user.id = Check(c.tx->AddUser(guest));
  TouchMachine(c);
  Check(c.tx->Commit());
  AnswerDocument answer;
  WriteUser(answer.writer(), c.user, options_.site_origin, secret);
  return answer.Finish();
}

std::string ProtocolService::AddUser(Context& c) {
  const std::string email = text::ToLower(c.fields.Value("email"));
  const std::string_view password = c.fields.Value("password");
  const std::string_view name = c.fields.Value("name");
  if (email.size() < 3 || email.size() > 254 || email.find('@') == std::string::npos) {
    Refuse("ExtendedError", "Please enter a valid e-mail address.");
  }
  if (password.empty()) Refuse("ExtendedError", "Please enter a password.");
  if (name.size() > options_.limits.max_text) Refuse("ExtendedError", "The name is too long.");
  if (!MachineGuid(c.fields.Value("GUID"))) {
    Refuse("ExtendedError", "The machine identifier is missing or not valid.");
  }
  if (!failed_sign_ins_.Allows(c.peer, c.now)) {
    Refuse("ExtendedError", "Too many failed attempts from your address. Please wait a minute.");
  }
  std::optional<User> existing, guest;
  {
    auto tx = Check(storage_.Begin(false));
    existing = tx->FindUserByEmail(email);
    if (const auto guest_id = ParseId(c.fields.Value("id"))) guest = tx->FindUser(*guest_id);
    Check(tx->status());
  }
  const std::string_view taken = "An account with this e-mail address exists already.";
  if (existing) {
    // The same registration again (its answer was lost) is answered again.
    if (!credentials_.Verify(existing->credential, password)) {
      failed_sign_ins_.Count(c.peer, c.now);
      Refuse("ExtendedError", std::string(taken));
    }
    c.user = *existing;
    BeginWrite(c);
    TouchMachine(c);
    Check(c.tx->Commit());
    AnswerDocument answer;
    WriteUser(answer.writer(), c.user, options_.site_origin);
    return answer.Finish();
  }
  // A guest that registers brings its machines, programs and ratings along,
  // when it proves it is that guest.
  if (!new_accounts_.Take(c.peer, c.now)) {
    Refuse("ExtendedError", "Too many new accounts from your address. Please try again later.");
  }
  const bool carry_over = guest && guest->is_guest &&
                          credentials_.Verify(guest->credential, c.fields.Value("guest_password"));
  User user;
  user.email = email;
  user.name = std::string(name);
  user.created_at = c.now;
  user.credential = Check(credentials_.Hash(password));
  BeginWrite(c);
  if (c.tx->FindUserByEmail(email)) Refuse("ExtendedError", std::string(taken));  // just taken
  user.id = Check(c.tx->AddUser(user));
  c.user = user;
  if (carry_over) {
    const auto still = c.tx->FindUser(guest->id);
    if (still && still->credential == guest->credential) {
      Check(c.tx->MergeUser(guest->id, user.id));
      RefreshStats(*c.tx, c.tx->ProgramsOfUser(user.id));
    }
  }
  TouchMachine(c);
  Check(c.tx->Commit());
  AnswerDocument answer;
  WriteUser(answer.writer(), user, options_.site_origin);
  return answer.Finish();
}

// ---- programs --------------------------------------------------------------

namespace {

// The one document of an uploaded archive (`entry` in file part `field`).
std::string ReadUploadedEntry(const RequestFields& fields, std::string_view field,
                              std::string_view entry, std::uint64_t max_entry_size,
                              const RequestLimits& limits, std::string_view what) {
  const auto file = fields.File(field);
  if (!file) Refuse("ExtendedError", "The " + std::string(what) + " is missing.");
  service::ZipLimits zip_limits{limits.max_archive_entries, max_entry_size, max_entry_size};
  auto entries = service::ReadZipArchive(*file, zip_limits, [entry](std::string_view name) {
    return text::EqualsNoCase(name, entry);
  });
  if (!entries || entries->empty()) {
    Refuse("ExtendedError", "The " + std::string(what) + " is not a valid archive.");
  }
  return std::move(entries->back().data);
}

std::vector<Reported> ReadReport(const RequestFields& fields, const RequestLimits& limits,
                                 std::set<Id>& removed) {
  const std::string text =
      ReadUploadedEntry(fields, "zipfile", "report.xml", limits.max_entry_size, limits, "report");
  // Clients never declare a document type; one that does is not a report
  // (and entity declarations are where expansion attacks live).
  const auto doc = text.find("<!DOCTYPE") == std::string::npos ? store::XmlDocument::Parse(text)
                                                               : std::nullopt;
  if (!doc) Refuse("ExtendedError", "The report is not a valid document.");
  const auto root = doc->Find("KV/UserSoftware");
  if (!root) Refuse("ExtendedError", "The report lists no software.");

  std::vector<Reported> out;
  if (const auto programs = root->Find("Programs")) {
    for (const store::XmlElement p : programs->Children()) {
      if (out.size() >= limits.max_programs) Refuse("ExtendedError", "The report lists too many programs.");
      Reported r;
      for (const store::XmlElement field : p.Children()) {
        std::string value = field.Text();
        if (value.size() > limits.max_text) Refuse("ExtendedError", "A value of the report is too long.");
        const std::string_view name = field.Name();
        if (name == "Name") r.program.name = std::move(value);
        else if (name == "DisplayName") r.program.display_name = std::move(value);
        else if (name == "Publisher") r.program.publisher = std::move(value);
        else if (name == "Version") r.program.version_text = std::move(value);
        else if (name == "BetaRelease") {
          r.program.beta = value == "true";
          r.beta_given = true;
        }
      }
      if (r.program.name.empty() && r.program.display_name.empty()) continue;
      out.push_back(std::move(r));
    }
  }
  if (const auto list = root->Find("WasUninstalled/ProgramIdList")) {
    const std::string ids = list->Text();
    std::size_t start = 0;
    while (start <= ids.size()) {
      std::size_t end = ids.find(',', start);
      if (end == std::string::npos) end = ids.size();
      std::string_view item(ids.data() + start, end - start);
      while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
      while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
      if (const auto id = ParseId(item)) {
        removed.insert(*id);
        if (removed.size() > limits.max_programs) {
          Refuse("ExtendedError", "The report lists too many removed programs.");
        }
      }
      start = end + 1;
    }
  }
  return out;
}

// What the answer says about one program installed on the machine. Versions
// an operator set win over those learned from users.
void WriteProgram(store::XmlWriter& w, const InstalledProgram& ip, bool send_display_name) {
  const Program& p = ip.program;
  const ProgramCounters& n = ip.stats.counters;
  const std::string& stable = p.stable_version.empty() ? ip.stats.learned_stable : p.stable_version;
  const std::string& beta = p.beta_version.empty() ? ip.stats.learned_beta : p.beta_version;
  const std::string version = ip.install.version.empty() ? "unknown" : ip.install.version;
  // Attributes view their values, so the numbers' texts are kept here.
  const std::string id = std::to_string(p.id), nc = std::to_string(n.comments),
                    nq = std::to_string(n.questions), nu = std::to_string(n.users),
                    nr = std::to_string(n.ratings), rs = std::to_string(n.rating_sum),
                    ur = std::to_string(ip.user_rating);
  std::vector<store::XmlAttribute> a = {{"ID", id}};
  // A newly reported program is found by the name it was reported under.
  if (send_display_name && !ip.install.display_name.empty()) {
    a.push_back({"DN", ip.install.display_name});
  }
  if (!ip.install.reported_name.empty()) a.push_back({"N", ip.install.reported_name});
  a.insert(a.end(), {{"V", version},
                     {"SV", stable},
                     {"BV", beta},
                     {"NC", nc},
                     {"NQ", nq},
                     {"NU", nu},
                     {"NR", nr},
                     {"RS", rs},
                     {"UR", ur},
                     {"I", ip.has_icon ? "1" : "0"},
                     {"U", p.short_name}});
  if (!p.publisher_short.empty()) a.push_back({"PU", p.publisher_short});
  w.Text("  ", "Program", "", a);
}

using InstallKey = std::pair<Id, std::string>;  // program, display name

}  // namespace

// The counters and learned versions of programs, from what is stored now.
void ProtocolService::RefreshStats(Transaction& tx, std::span<const Id> programs) {
  if (programs.empty()) return;
  auto counters = tx.CountersOf(programs);
  auto versions = tx.VersionsSeenOf(programs);
  for (const Id program : programs) {
    ProgramStats stats;
    stats.counters = counters[program];
    // A version counts as released once enough different users have it: one
    // user with many machines (or many made-up ones) cannot release anything.
    for (const VersionSeen& v : versions[program]) {
      if (v.users < options_.learn_threshold) continue;
      std::string& best = v.is_beta ? stats.learned_beta : stats.learned_stable;
      if (best.empty() || IsNewerVersion(v.version, best)) best = v.version;
    }
    Check(tx.PutProgramStats(program, stats));
  }
}

std::string ProtocolService::AddPrograms(Context& c) {
  Authenticate(c);
  std::set<Id> removed;
  const std::vector<Reported> reported = ReadReport(c.fields, options_.limits, removed);
  std::vector<std::string> keys;  // the name analysis is done before the write lock
  keys.reserve(reported.size());
  for (const Reported& r : reported) keys.push_back(CatalogueKeyOf(r.program));
  BeginWrite(c);
  TouchMachine(c);
  std::map<std::string, Id> known = c.tx->ProgramIdsByKey(keys);

  std::map<InstallKey, Install> before;
  for (Install& i : c.tx->InstallsOn(c.machine)) {
    before.emplace(InstallKey{i.program_id, i.display_name}, std::move(i));
  }
  std::set<Id> changed;
  // Removals first: a program that changed version is listed both as gone
  // (its old identity) and as reported.
  for (Id id : removed) {
    const auto at = before.lower_bound({id, ""});
    if (at == before.end() || at->first.first != id) continue;  // not on this machine
    changed.insert(id);
    Check(c.tx->RemoveInstall(c.machine, id));
  }
  std::vector<InstallKey> order;
  for (std::size_t i = 0; i < reported.size(); ++i) {
    const Reported& r = reported[i];
    Id& program = known[keys[i]];
    if (program == 0) {
      auto added = FindOrAddProgram(*c.tx, r.program, keys[i], c.now);
      if (!added) Refuse("UnexpectedError", "storage: " + added.status().message());
      program = added->id;
    }
    Install install{c.machine, program, c.user.id, Normalised(r.program.version_text),
                    r.program.beta, r.program.display_name, r.program.name, c.now};
    const auto old = before.find({program, install.display_name});
    const bool was_there = old != before.end() && !changed.count(program);
    // A report that does not say which kind a version is keeps what an
    // earlier one said about the same version.
    if (!r.beta_given && old != before.end() && old->second.version == install.version) {
      install.is_beta = old->second.is_beta;
    }
    const bool same = was_there && old->second.version == install.version &&
                      old->second.is_beta == install.is_beta &&
                      old->second.user_id == install.user_id &&
                      old->second.reported_name == install.reported_name;
    if (!same) {
      changed.insert(program);
      Check(c.tx->PutInstall(install));
    }
    order.emplace_back(program, install.display_name);
  }
  RefreshStats(*c.tx, std::vector<Id>(changed.begin(), changed.end()));

  std::map<InstallKey, InstalledProgram> now;
  for (InstalledProgram& ip : c.tx->ProgramsOn(c.machine, c.user.id)) {
    now.emplace(InstallKey{ip.install.program_id, ip.install.display_name}, std::move(ip));
  }
  Check(c.tx->status());
  AnswerDocument answer;
  auto& w = answer.writer();
  w.Open(" ", "Programs");
  for (const InstallKey& key : order) {
    if (const auto at = now.find(key); at != now.end()) WriteProgram(w, at->second, true);
  }
  w.Close(" ", "Programs");
  Check(c.tx->Commit());
  return answer.Finish();
}

SiteCounts ProtocolService::CachedCounts(Transaction& tx, std::int64_t now) {
  constexpr std::int64_t kCountsLifetime = 60;  // seconds
  {
    std::lock_guard lock(counts_mutex_);
    if (counts_time_ >= 0 && now - counts_time_ < kCountsLifetime && now >= counts_time_) {
      return counts_;
    }
  }
  const SiteCounts counts = tx.Counts();
  Check(tx.status());
  std::lock_guard lock(counts_mutex_);
  counts_ = counts;
  counts_time_ = now;
  return counts;
}

// Most checks change nothing: the machine was seen lately with this build
// and no news waits for it. Those are answered from a read transaction, which
// runs beside others instead of queueing for the write lock.
std::string ProtocolService::CheckUpdates(Context& c) {
  constexpr std::int64_t kLastSeenResolution = 600;  // seconds
  const auto guid = MachineGuid(c.fields.Value("GUID"));
  if (!guid) Refuse("ExtendedError", "The machine identifier is missing or not valid.");
  {
    auto tx = Check(storage_.Begin(false));
    // The slow check, when it is needed, runs with no transaction open.
    if (!AuthenticateQuickly(c, *tx)) {
      tx.reset();
      Authenticate(c);
      tx = Check(storage_.Begin(false));
    }
    const auto machine = tx->FindMachine(c.user.id, *guid);
    if (machine && machine->client_build == c.fields.Value("client_build") &&
        c.now >= machine->last_seen && c.now - machine->last_seen < kLastSeenResolution &&
        tx->UnseenNews(machine->id).empty()) {
      c.machine = machine->id;
      AnswerDocument answer = CheckUpdatesAnswer(c, *tx);
      tx.reset();
      return answer.Finish();
    }
    Check(tx->status());
  }
  BeginWrite(c);
  TouchMachine(c);
  AnswerDocument answer = CheckUpdatesAnswer(c, *c.tx);
  Check(c.tx->Commit());
  return answer.Finish();  // zipped after the write lock is released
}

AnswerDocument ProtocolService::CheckUpdatesAnswer(Context& c, Transaction& tx) {
  AnswerDocument answer;
  auto& w = answer.writer();
  WriteUser(w, c.user, options_.site_origin);

  const SiteCounts counts = CachedCounts(tx, c.now);
  w.Open(" ", "Server");
  w.Open("  ", "Stats");
  w.Int64("   ", "TotalNumberOfPrograms", counts.programs);
  w.Int64("   ", "TotalNumberOfDevelopers", counts.publishers);
  w.Int64("   ", "TotalNumberOfUsers", counts.users);
  w.Int64("   ", "NumberOfNews", counts.news);
  w.Close("  ", "Stats");
  w.Close(" ", "Server");

  // Each news item reaches a machine once.
  w.Open(" ", "LatestNews");
  for (const NewsItem& n : tx.UnseenNews(c.machine)) {
    w.Text("  ", "News", n.title, {{"Date", n.date}, {"Url", n.url}});
    Check(tx.MarkNewsSeen(c.machine, n.id));  // only reached in a write transaction
  }
  w.Close(" ", "LatestNews");

  w.Open(" ", "Programs");
  const std::vector<InstalledProgram> programs = tx.ProgramsOn(c.machine, c.user.id);
  for (std::size_t i = 0; i < programs.size(); ++i) {
    // The client finds a program by its ID alone unless DN is sent, so two
    // entries of one program (listed next to each other) are told apart by
    // their display names.
    const Id id = programs[i].program.id;
    const bool shared = (i > 0 && programs[i - 1].program.id == id) ||
                        (i + 1 < programs.size() && programs[i + 1].program.id == id);
    WriteProgram(w, programs[i], shared);
  }
  w.Close(" ", "Programs");
  Check(tx.status());
  return answer;
}

// ---- uploads ---------------------------------------------------------------

std::string ProtocolService::UploadIcons(Context& c) {
  Authenticate(c);
  const auto file = c.fields.File("icons");
  if (!file) Refuse("ExtendedError", "The icons are missing.");
  // Icons are small; the whole archive is held, so it is bounded as a whole.
  const service::ZipLimits zip_limits{options_.limits.max_archive_entries, 256u << 10, 16u << 20};
  auto entries = service::ReadZipArchive(*file, zip_limits);
  if (!entries) Refuse("ExtendedError", "The icons are not a valid archive.");
  BeginWrite(c);
  for (const service::ZipEntry& e : *entries) {
    // "<program id>.ico", for a program of this user's that has no icon yet:
    // nobody replaces the icon everyone sees.
    const std::string_view name = e.name;
    if (!text::EndsWithNoCase(name, ".ico") || !IsIcoFile(e.data)) continue;
    const auto id = ParseId(name.substr(0, name.size() - 4));
    if (!id || c.tx->HasIcon(*id) || !c.tx->IsInstalledBy(c.user.id, *id)) continue;
    Check(c.tx->PutIcon(*id, e.data));
  }
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

std::string ProtocolService::AddComment(Context& c) {
  Authenticate(c);
  const auto program = ParseId(c.fields.Value("Id"));
  std::string text(c.fields.Value("Comment"));
  const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
  if (blank) Refuse("ExtendedError", "Your comment is empty.");
  if (text.size() > options_.limits.max_comment) Refuse("ExtendedError", "Your comment is too long.");
  BeginWrite(c);
  if (!program || !c.tx->FindProgram(*program)) Refuse("ExtendedError", "There is no such program.");
  Check(c.tx->AddComment({0, *program, c.user.id, text, c.now}));
  if (const auto rating = ParseId(c.fields.Value("Rating")); rating && *rating <= 5) {
    Check(c.tx->SetRating(c.user.id, *program, static_cast<int>(*rating)));
  }
  RefreshStats(*c.tx, {&*program, 1});
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

std::string ProtocolService::RateProgram(Context& c) {
  Authenticate(c);
  const auto program = ParseId(c.fields.Value("Id"));
  int rating = -1;
  const std::string_view text = c.fields.Value("Rating");
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rating);
  if (ec != std::errc() || end != text.data() + text.size() || rating < 0 || rating > 5) {
    Refuse("ExtendedError", "A rating is from 1 to 5.");
  }
  BeginWrite(c);
  if (!program || !c.tx->FindProgram(*program)) Refuse("ExtendedError", "There is no such program.");
  Check(c.tx->SetRating(c.user.id, *program, rating));
  RefreshStats(*c.tx, {&*program, 1});
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

std::string ProtocolService::AddExtensions(Context& c) {
  Authenticate(c);
  const std::string document = ReadUploadedEntry(c.fields, "zipfile", "report.xml",
                                                  options_.limits.max_entry_size, options_.limits,
                                                  "association list");
  if (document.find("<!DOCTYPE") != std::string::npos || !store::XmlDocument::Parse(document)) {
    Refuse("ExtendedError", "The association list is not a valid document.");
  }
  BeginWrite(c);
  TouchMachine(c);
  Check(c.tx->PutAssociations(c.machine, document, c.now));
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

namespace {

// The newest `cap` bytes of a log, from the start of a line.
std::string_view NewestLines(std::string_view log, std::size_t cap) {
  if (log.size() <= cap) return log;
  std::string_view tail = log.substr(log.size() - cap);
  const std::size_t line = tail.find('\n');
  return line == std::string_view::npos ? tail : tail.substr(line + 1);
}

}  // namespace

std::string ProtocolService::AddUsageLog(Context& c) {
  Authenticate(c);
  // A client keeps its log until an upload succeeds, so a long one is taken
  // (its newest part kept) rather than refused again at every check.
  RequestLimits one_entry = options_.limits;
  one_entry.max_archive_entries = 4;  // each may be inflated up to the large bound
  const std::string log = ReadUploadedEntry(c.fields, "zipfile", "log.xml", kMaxUsageLog,
                                            one_entry, "log");
  BeginWrite(c);
  TouchMachine(c);
  Check(c.tx->AddUsageLog(c.machine, NewestLines(log, options_.usage_log_cap), c.now,
                          options_.usage_log_cap));
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

}  // namespace kv::server
