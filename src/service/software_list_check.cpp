// A check for updates: the report, the uploads, and "check_updates", whose
// `Programs` answer tells each program its latest versions and counters.
#include <string>
#include <string_view>

#include "app/activity_log.h"
#include "store/xml_text.h"
#include "service/check_news.h"
#include "service/icon_cache.h"
#include "service/site_stats.h"
#include "service/software_list_store.h"
#include "service/usage_log_upload.h"
#include "service/user_account.h"
#include "text/compare.h"

namespace kv::service {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
using inventory::IsOlderVersion;
using inventory::ParseVersion;
using inventory::ProgramVersion;

// A short name becomes part of a host name: only what a host label may hold,
// so that no answer can turn a page address into something else.
bool IsShortName(std::string_view s) {
  if (s.empty() || s.size() > 63 || s.front() == '-' || s.back() == '-') return false;
  for (const char c : s) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// A page address the browser is given: http or https, nothing that would
// end it inside a command line.
bool IsPageUrl(std::string_view s) {
  if (!text::StartsWithNoCase(s, "http://") && !text::StartsWithNoCase(s, "https://")) return false;
  for (const char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '`')
      return false;
  }
  return true;
}

std::int32_t Decimal(std::string_view text) { return store::XmlTextToInt32(text); }

// Whether an answer's latest versions are news for the program.
bool IsNewVersion(const SoftwareInfo& p, const ProgramVersion& stable, const ProgramVersion& beta,
                  bool ignore_beta) {
  if (ignore_beta) {
    return IsOlderVersion(p.VerLatestStable, stable) && IsOlderVersion(p.VerInstalled, stable);
  }
  const ProgramVersion& latest =
      IsOlderVersion(p.VerLatestStable, p.VerLatestBeta) ? p.VerLatestBeta : p.VerLatestStable;
  return (IsOlderVersion(latest, beta) || IsOlderVersion(latest, stable)) &&
         (IsOlderVersion(p.VerInstalled, stable) || IsOlderVersion(p.VerInstalled, beta));
}

}  // namespace

AnswerRules AnswerRules::From(const app::ServiceConfig& config, bool ignore_beta_versions) {
  AnswerRules rules;
  const std::string origin = config.site.Origin();
  const std::size_t start = origin.find("://");
  rules.site_host = start == std::string::npos ? origin : origin.substr(start + 3);
  rules.ignore_beta_versions = ignore_beta_versions;
  return rules;
}

bool SoftwareListStore::ApplyProgramsAnswer(const store::XmlElement& programs,
                                            const AnswerRules& rules) {
  Lock lock(mutex_);
  unmatched_ids_.clear();
  for (const store::XmlElement child : programs.Children()) {
    if (!child.HasAttributes()) return false;
    const auto attr = [&child](std::string_view name) {
      return child.AttributeNoCase(name).value_or("");
    };
    const std::string id = attr("ID"), name = attr("N"), display_name = attr("DN");
    int index = -1;
    if (!display_name.empty()) {
      index = FindByDisplayName(display_name);
    } else {
      // Empty keys would find the first program that has none.
      if (!id.empty()) index = FindByGlobalId(id);
      if (index < 0 && !name.empty()) index = FindByLocalId("/" + name);
    }
    if (index < 0) {
      if (!id.empty()) unmatched_ids_.push_back(id);
      continue;
    }
    SoftwareInfo& p = *installed_[static_cast<std::size_t>(index)];

    const std::string short_name = attr("U"), publisher_short = attr("PU");
    std::string program_page, publisher_page;
    if (IsShortName(short_name)) program_page = "http://" + short_name + "." + rules.site_host + "/";
    if (IsShortName(publisher_short))
      publisher_page = "http://" + publisher_short + "." + rules.site_host + "/";
    const auto page = [&](std::string_view attribute, std::string_view below) {
      const std::string given = attr(attribute);
      if (IsPageUrl(given)) return given;
      return program_page.empty() ? std::string() : program_page + std::string(below);
    };
    const std::string comments_page = page("AddCommentUrl", "comments/");
    const std::string users_page = page("MeetOtherUsersUrl", "users/");
    const std::string questions_page = page("AskQuestionUrl", "questions/");

    if (!id.empty() && id != p.GlobalId) {
      // Its cached icon was kept under the name it had.
      ForgetCachedIcon(machine_.files, data_folder_, p);
      p.GlobalId = id;
    }
    if (!name.empty()) p.Name = name;
    if (const std::string v = attr("V"); !v.empty()) {
      if (text::EqualsNoCase(v, "unknown")) {
        p.VerOnServer.Clear();
        p.Flags |= flag::kVersionUnknown;
      } else {
        ParseVersion(v, p.VerOnServer);
        p.VerInstalled = p.VerOnServer;
        p.Flags &= ~flag::kVersionUnknown;
      }
    }
    if (const std::string v = attr("P"); !v.empty()) p.Publisher = v;
    if (!publisher_page.empty()) p.PublisherUrl = publisher_page;
    if (!program_page.empty()) p.ProgUrl = program_page;
    if (!comments_page.empty()) p.CommentsUrl = comments_page;
    if (!users_page.empty()) p.UsersUrl = users_page;
    if (!questions_page.empty()) p.QuestionsUrl = questions_page;

    ProgramVersion stable, beta;
    ParseVersion(attr("SV"), stable);
    ParseVersion(attr("BV"), beta);
    if (!(p.Flags & flag::kVersionUnknown) &&
        IsNewVersion(p, stable, beta, rules.ignore_beta_versions)) {
      if (p.Flags & flag::kNotifyVersions) p.State |= state::kNewVersion;
      has_new_versions_ = true;
    }
    p.VerLatestStable = std::move(stable);
    p.VerLatestBeta = std::move(beta);

    if (const std::string v = attr("I"); !v.empty()) {
      if (v == "0") p.State |= state::kIconWanted;
      else p.State &= ~state::kIconWanted;
    }
    if (const std::string v = attr("NC"); !v.empty()) {
      const std::int32_t n = Decimal(v);
      if (p.nComments < n && (p.Flags & flag::kNotifyComments)) {
        p.nNewComments = n - p.nComments;
        p.State |= state::kNewComments;
      }
      p.nComments = n;
    }
    if (const std::string v = attr("NQ"); !v.empty()) {
      const std::int32_t n = Decimal(v);
      if (p.nQuestionsPosted < n && (p.Flags & flag::kNotifyQuestions)) {
        p.nNewQuestions = n - p.nQuestionsPosted;
        p.State |= state::kNewQuestions;
      }
      p.nQuestionsPosted = n;
    }
    if (const std::string v = attr("NU"); !v.empty()) p.nUsers = Decimal(v);
    if (const std::string v = attr("NR"); !v.empty()) p.RatingsCount = Decimal(v);
    if (const std::string v = attr("RS"); !v.empty()) p.RatingsSum = Decimal(v);
    if (const std::string v = attr("UR"); !v.empty()) {
      const std::int32_t rating = Decimal(v);
      // A rating given on the site wins; nothing outside 0 to 5 is one.
      if (rating >= 0 && rating <= 5 && rating != p.UserRatingOnServer) {
        p.UserRatingOnServer = rating;
        p.UserRating = rating;
      }
    }
    if (text::EqualsNoCase(attr("SC"), "Ignore")) p.Flags |= flag::kIgnored;
    else p.Flags &= ~flag::kIgnored;
  }
  return true;
}

bool SoftwareListStore::SendReport(const UploadSession& session, const ReportEnvironment& env,
                                   const AnswerRules& rules, RequestOutcome& outcome) {
  if (!HasSomethingToReport()) return true;
  outcome.Begin();
  auto answer = session.connection.SendDocument(RequestMode::AddPrograms, session.identity,
                                                session.client_build, BuildReport(env), outcome);
  if (!answer) return false;
  outcome.SetInvalidAnswer();
  const auto programs = answer->Find("KV/Programs");
  if (!programs || !ApplyProgramsAnswer(*programs, rules)) return false;
  outcome.SetSucceeded();
  {
    Lock lock(mutex_);
    // Told to the service now. The unmatched identifiers were emptied when
    // the answer was applied; those it named anew go in the next report.
    removed_.clear();
    Save().IgnoreError();
  }
  if (FirstProgramNeedingIcon()) {
    RequestOutcome icons;
    UploadAllIcons(session, icons);
  }
  return true;
}

bool SoftwareListStore::CheckUpdates(const CheckServices& s, RequestOutcome& outcome) {
  set_has_new_versions(false);
  progress_.begin(6);
  const auto fail = [this] {
    progress_.end();
    return false;
  };
  // Nothing to report is no request (SendReport asks).
  if (!SendReport(s.session, s.environment, s.rules, outcome)) return fail();
  progress_.advance();
  if (FirstProgramNeedingIcon()) {
    RequestOutcome ignored;
    UploadAllIcons(s.session, ignored);
  }
  progress_.advance();
  if (!QueuedComments().empty() && !SendComments(s.session, outcome)) return fail();
  if (s.usage_log) {
    RequestOutcome ignored;
    UsageLogUpload(*s.usage_log, machine_.files, s.session.connection, s.session.identity,
                   s.session.client_build, ignored);
  }
  progress_.advance();
  if (!SendAssociations(s.session, s.environment, outcome)) return fail();
  progress_.advance();
  {
    RequestOutcome ignored;
    SendRatings(s.session, ignored);
  }
  progress_.advance();

  outcome.Begin();
  FormPoster form(s.session.connection.transport());
  AddIdentityFields(form, s.session.identity, s.session.client_build);
  auto answer = s.session.connection.Exchange(RequestMode::CheckUpdates, form, outcome);
  progress_.advance();
  progress_.end();
  if (!answer) return false;
  outcome.SetInvalidAnswer();
  const store::XmlElement kv = *answer->Find("KV");  // Exchange checked it
  if (const auto user = kv.Find("User"); user && s.account) {
    s.account->ReadUserElement(*user);
    s.account->Save();
  }
  if (const auto server = kv.Find("Server"); server && s.site_stats) {
    s.site_stats->ReadServerElement(*server);
    s.site_stats->Save();
  }
  if (const auto news = kv.Find("LatestNews"); news && s.news) s.news->TakeNews(*news);
  const auto programs = kv.Find("Programs");
  if (!programs) return false;
  {
    Lock lock(mutex_);
    // The answer lists every program the service holds for this user; the
    // others are reported again.
    unmatched_ids_.clear();
    for (const SoftwarePtr& p : installed_) p->VerOnServer.Clear();
    if (!ApplyProgramsAnswer(*programs, s.rules)) return false;
  }
  {
    // Programs the answer left out, or named but missing here (unmatched
    // identifiers count as something to report).
    RequestOutcome again;
    SendReport(s.session, s.environment, s.rules, again);
  }
  Save().IgnoreError();
  outcome.SetSucceeded();
  return true;
}

}  // namespace kv::service
