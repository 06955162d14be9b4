#include "protocol/protocol_service.h"

#include <charconv>
#include <ctime>
#include <map>
#include <set>

#include "catalogue/catalogue_admin.h"
#include "catalogue/program_key.h"
#include "inventory/version.h"
#include "protocol/answer.h"
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
  bool long_form = false;
};

}  // namespace

struct ProtocolService::Context {
  const RequestFields& fields;
  std::unique_ptr<Transaction> tx;
  std::int64_t now = 0;
  User user;
  Id machine = 0;
};

ProtocolService::ProtocolService(Storage& storage, Credentials& credentials,
                                 ServiceOptions options, Clock clock)
    : storage_(storage),
      credentials_(credentials),
      options_(std::move(options)),
      clock_(clock ? std::move(clock) : Clock([] { return std::int64_t(std::time(nullptr)); })) {}

std::string ProtocolService::Malformed(std::string_view why) {
  return ResultAnswer("ExtendedError", "The request could not be read: " + std::string(why));
}

std::string ProtocolService::Handle(std::string_view mode, const RequestFields& fields) {
  using Handler = std::string (ProtocolService::*)(Context&);
  static const std::map<std::string_view, std::pair<Handler, bool>> kModes = {
      {"get_id", {&ProtocolService::GetId, true}},
      {"add_guest", {&ProtocolService::AddGuest, true}},
      {"add_user", {&ProtocolService::AddUser, true}},
      {"add_programs", {&ProtocolService::AddPrograms, true}},
      {"check_updates", {&ProtocolService::CheckUpdates, true}},
      {"upload_icons", {&ProtocolService::UploadIcons, true}},
      {"add_comment", {&ProtocolService::AddComment, true}},
      {"rate_program", {&ProtocolService::RateProgram, true}},
      {"add_extensions", {&ProtocolService::AddExtensions, true}},
      {"add_usagelog", {&ProtocolService::AddUsageLog, true}},
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
    auto tx = storage_.Begin(found->second.second);
    if (!tx) return ResultAnswer("UnexpectedError", "storage: " + tx.status().message());
    Context c{fields, std::move(tx).value(), clock_(), {}, 0};
    return (this->*found->second.first)(c);
  } catch (const Refusal& r) {
    return ResultAnswer(r.code, r.message);
  }
}

// ---- accounts --------------------------------------------------------------

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

}  // namespace

std::string ProtocolService::GetId(Context& c) {
  const std::string email = text::ToLower(c.fields.Value("email"));
  const auto user = c.tx->FindUserByEmail(email);
  if (email.empty() || !user || !credentials_.Verify(user->credential, c.fields.Value("password"))) {
    Refuse("LoginFailure", "The e-mail address or the password is not right.");
  }
  Check(c.tx->TouchMachine(c.fields.Value("GUID"), user->id, c.fields.Value("client_build"), c.now));
  Check(c.tx->Commit());
  AnswerDocument answer;
  WriteUser(answer.writer(), *user, options_.site_origin);
  return answer.Finish();
}

std::string ProtocolService::AddGuest(Context& c) {
  const std::string guid(c.fields.Value("GUID"));
  if (guid.empty() || guid.size() > 64) Refuse("ExtendedError", "The machine identifier is missing.");
  const std::string secret = Credentials::NewGuestSecret();
  User guest;
  guest.is_guest = true;
  guest.created_at = c.now;
  guest.credential = Check(credentials_.Hash(secret));
  guest.id = Check(c.tx->AddUser(guest));
  Check(c.tx->TouchMachine(guid, guest.id, c.fields.Value("client_build"), c.now));
  Check(c.tx->Commit());
  AnswerDocument answer;
  WriteUser(answer.writer(), guest, options_.site_origin, secret);
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
  if (const auto existing = c.tx->FindUserByEmail(email)) {
    // The same registration again (its answer was lost) is answered again.
    if (!credentials_.Verify(existing->credential, password)) {
      Refuse("ExtendedError", "An account with this e-mail address exists already.");
    }
    Check(c.tx->TouchMachine(c.fields.Value("GUID"), existing->id, c.fields.Value("client_build"), c.now));
    Check(c.tx->Commit());
    AnswerDocument answer;
    WriteUser(answer.writer(), *existing, options_.site_origin);
    return answer.Finish();
  }
  User user;
  user.email = email;
  user.name = std::string(name);
  user.created_at = c.now;
  user.credential = Check(credentials_.Hash(password));
  user.id = Check(c.tx->AddUser(user));
  // A guest that registers brings its machines, programs and ratings along,
  // when it proves it is that guest.
  if (const auto guest_id = ParseId(c.fields.Value("id"))) {
    const auto guest = c.tx->FindUser(*guest_id);
    if (guest && guest->is_guest &&
        credentials_.Verify(guest->credential, c.fields.Value("guest_password"))) {
      Check(c.tx->MergeUser(guest->id, user.id));
    }
  }
  Check(c.tx->TouchMachine(c.fields.Value("GUID"), user.id, c.fields.Value("client_build"), c.now));
  Check(c.tx->Commit());
  AnswerDocument answer;
  WriteUser(answer.writer(), user, options_.site_origin);
  return answer.Finish();
}

// Every other mode: the identity fields name an account and prove it.
namespace {

User Authenticate(Transaction& tx, Credentials& credentials, const RequestFields& f) {
  std::optional<User> user;
  if (const auto id = ParseId(f.Value("id"))) user = tx.FindUser(*id);
  else if (!f.Value("email").empty()) user = tx.FindUserByEmail(text::ToLower(f.Value("email")));
  if (!user || !credentials.Verify(user->credential, f.Value("password"))) {
    Refuse("LoginFailure", "The e-mail address or the password is not right.");
  }
  return *user;
}

}  // namespace

// The account and the machine a request comes from.
void ProtocolService::Identify(Context& c) {
  const std::string_view guid = c.fields.Value("GUID");
  if (guid.empty() || guid.size() > 64) Refuse("ExtendedError", "The machine identifier is missing.");
  c.user = Authenticate(*c.tx, credentials_, c.fields);
  c.machine = Check(c.tx->TouchMachine(c.fields.Value("GUID"), c.user.id,
                                       c.fields.Value("client_build"), c.now));
}

// ---- programs --------------------------------------------------------------

namespace {

// The one document of an uploaded archive (`entry` in file part `field`).
std::string ReadUploadedEntry(const RequestFields& fields, std::string_view field,
                              std::string_view entry, const RequestLimits& limits,
                              std::string_view what) {
  const auto file = fields.File(field);
  if (!file) Refuse("ExtendedError", "The " + std::string(what) + " is missing.");
  service::ZipLimits zip_limits{limits.max_archive_entries, limits.max_entry_size};
  auto entries = service::ReadZipArchive(*file, zip_limits, [entry](std::string_view name) {
    return text::EqualsNoCase(name, entry);
  });
  if (!entries || entries->empty()) {
    Refuse("ExtendedError", "The " + std::string(what) + " is not a valid archive.");
  }
  return std::move(entries->back().data);
}

std::vector<Reported> ReadReport(const RequestFields& fields, const RequestLimits& limits,
                                 std::vector<Id>& removed) {
  const std::string text = ReadUploadedEntry(fields, "zipfile", "report.xml", limits, "report");
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
      bool beta = false;
      for (const store::XmlElement field : p.Children()) {
        std::string value = field.Text();
        if (value.size() > limits.max_text) Refuse("ExtendedError", "A value of the report is too long.");
        const std::string_view name = field.Name();
        if (name == "Name") r.program.name = std::move(value);
        else if (name == "DisplayName") { r.program.display_name = std::move(value); r.long_form = true; }
        else if (name == "Publisher") r.program.publisher = std::move(value);
        else if (name == "Version") r.program.version_text = std::move(value);
        else if (name == "BetaRelease") beta = value == "true";
      }
      r.program.beta = beta;
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
      if (const auto id = ParseId(item)) removed.push_back(*id);
      start = end + 1;
    }
  }
  return out;
}

}  // namespace

namespace {

// What the answer says about one program installed on the machine.
void WriteProgram(store::XmlWriter& w, Transaction& tx, const Program& p, const Install& install,
                  const User& user, int learn_threshold, bool send_display_name) {
  std::string stable = p.stable_version, beta = p.beta_version;
  if (stable.empty() || beta.empty()) {
    std::string learned_stable, learned_beta;
    for (const VersionSeen& v : tx.VersionsSeen(p.id)) {
      if (v.machines < learn_threshold) continue;
      std::string& best = v.is_beta ? learned_beta : learned_stable;
      if (best.empty() || IsNewerVersion(v.version, best)) best = v.version;
    }
    if (stable.empty()) stable = learned_stable;
    if (beta.empty()) beta = learned_beta;
  }
  const ProgramCounters counters = tx.Counters(p.id);
  const std::string id = std::to_string(p.id);
  const std::string version = install.version.empty() ? "unknown" : install.version;
  const std::string nc = std::to_string(counters.comments), nu = std::to_string(counters.users),
                    nr = std::to_string(counters.ratings), rs = std::to_string(counters.rating_sum),
                    ur = std::to_string(tx.RatingOf(user.id, p.id));
  const std::string_view icon = tx.HasIcon(p.id) ? "1" : "0";
  std::vector<store::XmlAttribute> a = {{"ID", id}};
  // A newly reported program is found by the name it was reported under.
  if (send_display_name) {
    if (!install.display_name.empty()) a.push_back({"DN", install.display_name});
  }
  if (!install.reported_name.empty()) a.push_back({"N", install.reported_name});
  a.insert(a.end(), {{"V", version}, {"SV", stable}, {"BV", beta}, {"NC", nc}, {"NQ", "0"},
                     {"NU", nu}, {"NR", nr}, {"RS", rs}, {"UR", ur}, {"I", icon},
                     {"U", p.short_name}});
  if (!p.publisher_short.empty()) a.push_back({"PU", p.publisher_short});
  w.Text("  ", "Program", "", a);
}

}  // namespace

std::string ProtocolService::AddPrograms(Context& c) {
  Identify(c);
  std::vector<Id> removed;
  const std::vector<Reported> reported = ReadReport(c.fields, options_.limits, removed);
  // Removals first: a program that changed version is listed both as gone
  // (its old identity) and as reported.
  for (Id id : removed) Check(c.tx->RemoveInstall(c.machine, id));
  std::vector<std::pair<Program, Install>> answered;
  for (const Reported& r : reported) {
    auto found = FindOrAddProgram(*c.tx, r.program, c.now);
    if (!found) Refuse("UnexpectedError", "storage: " + found.status().message());
    const Program p = std::move(found).value();
    Install install{c.machine, p.id, c.user.id, Normalised(r.program.version_text),
                    r.program.beta, r.program.display_name, r.program.name, c.now};
    Check(c.tx->PutInstall(install));
    answered.emplace_back(p, install);
  }
  AnswerDocument answer;
  auto& w = answer.writer();
  w.Open(" ", "Programs");
  for (const auto& [p, install] : answered) {
    WriteProgram(w, *c.tx, p, install, c.user, options_.learn_threshold, true);
  }
  w.Close(" ", "Programs");
  Check(c.tx->Commit());
  return answer.Finish();
}

std::string ProtocolService::CheckUpdates(Context& c) {
  Identify(c);
  AnswerDocument answer;
  auto& w = answer.writer();
  WriteUser(w, c.user, options_.site_origin);

  const SiteCounts counts = c.tx->Counts();
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
  for (const NewsItem& n : c.tx->UnseenNews(c.machine)) {
    w.Text("  ", "News", n.title, {{"Date", n.date}, {"Url", n.url}});
    Check(c.tx->MarkNewsSeen(c.machine, n.id));
  }
  w.Close(" ", "LatestNews");

  w.Open(" ", "Programs");
  for (const Install& install : c.tx->InstallsOn(c.machine)) {
    if (const auto p = c.tx->FindProgram(install.program_id)) {
      WriteProgram(w, *c.tx, *p, install, c.user, options_.learn_threshold, false);
    }
  }
  w.Close(" ", "Programs");
  Check(c.tx->Commit());
  return answer.Finish();
}

// ---- uploads ---------------------------------------------------------------

std::string ProtocolService::UploadIcons(Context& c) {
  c.user = Authenticate(*c.tx, credentials_, c.fields);
  const auto file = c.fields.File("icons");
  if (!file) Refuse("ExtendedError", "The icons are missing.");
  // Icons are small; the whole archive is held, so it is bounded as a whole.
  const service::ZipLimits zip_limits{options_.limits.max_archive_entries, 256u << 10, 16u << 20};
  auto entries = service::ReadZipArchive(*file, zip_limits);
  if (!entries) Refuse("ExtendedError", "The icons are not a valid archive.");
  for (const service::ZipEntry& e : *entries) {
    // "<program id>.ico"
    const std::string_view name = e.name;
    if (!text::EndsWithNoCase(name, ".ico")) continue;
    const auto id = ParseId(name.substr(0, name.size() - 4));
    if (!id || !c.tx->FindProgram(*id)) continue;
    Check(c.tx->PutIcon(*id, e.data));
  }
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

std::string ProtocolService::AddComment(Context& c) {
  c.user = Authenticate(*c.tx, credentials_, c.fields);
  const auto program = ParseId(c.fields.Value("Id"));
  if (!program || !c.tx->FindProgram(*program)) Refuse("ExtendedError", "There is no such program.");
  std::string text(c.fields.Value("Comment"));
  const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
  if (blank) Refuse("ExtendedError", "Your comment is empty.");
  if (text.size() > options_.limits.max_comment) Refuse("ExtendedError", "Your comment is too long.");
  Check(c.tx->AddComment({0, *program, c.user.id, text, c.now}));
  if (const auto rating = ParseId(c.fields.Value("Rating")); rating && *rating <= 5) {
    Check(c.tx->SetRating(c.user.id, *program, static_cast<int>(*rating)));
  }
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

std::string ProtocolService::RateProgram(Context& c) {
  c.user = Authenticate(*c.tx, credentials_, c.fields);
  const auto program = ParseId(c.fields.Value("Id"));
  if (!program || !c.tx->FindProgram(*program)) Refuse("ExtendedError", "There is no such program.");
  int rating = -1;
  const std::string_view text = c.fields.Value("Rating");
  std::from_chars(text.data(), text.data() + text.size(), rating);
  if (rating < 0 || rating > 5) Refuse("ExtendedError", "A rating is from 1 to 5.");
  Check(c.tx->SetRating(c.user.id, *program, rating));
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

std::string ProtocolService::AddExtensions(Context& c) {
  Identify(c);
  const std::string document =
      ReadUploadedEntry(c.fields, "zipfile", "report.xml", options_.limits, "association list");
  if (!store::XmlDocument::Parse(document)) {
    Refuse("ExtendedError", "The association list is not a valid document.");
  }
  Check(c.tx->PutAssociations(c.machine, document, c.now));
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

std::string ProtocolService::AddUsageLog(Context& c) {
  Identify(c);
  const std::string log = ReadUploadedEntry(c.fields, "zipfile", "log.xml", options_.limits, "log");
  Check(c.tx->AddUsageLog(c.machine, log, c.now, options_.usage_log_cap));
  Check(c.tx->Commit());
  return ResultAnswer("OK");
}

}  // namespace kv::server
