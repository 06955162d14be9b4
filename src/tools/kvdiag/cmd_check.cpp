// kvdiag check: one check for updates as the client's check worker runs it,
// on the same machine and data folder: the account request its state calls
// for, a software-list refresh, then the report, the uploads and
// "check_updates". Prints the outcome, the programs with a newer version,
// pending comment and question news, and the site news the check brought.
// No activity log is sent: kvdiag keeps none of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "app/service_config.h"
#include "app/settings.h"
#include "platform/http_transport.h"
#include "service/check_news.h"
#include "service/machine_identity.h"
#include "service/report_environment.h"
#include "service/requests.h"
#include "service/site_stats.h"
#include "service/software_list_store.h"
#include "service/user_account.h"
#include "text/format.h"
#include "tools/kvdiag/commands.h"
#include "tools/kvdiag/service_options.h"
#include "tools/kvdiag/diag_machine.h"
#include "tools/kvdiag/json_out.h"
#include "tools/kvdiag/table_out.h"

namespace kv::diag {
namespace {

using inventory::FormatVersion;
using inventory::IsOlderVersion;
using service::AccountState;
using service::RequestOutcome;
using service::SoftwareInfo;
using service::SoftwarePtr;

constexpr const char* kUsage =
    "check [--json] [--site URL] [--ca FILE] [--data DIR] [--reg FILE...] [--machine DESC.json]";

// Out of date: a latest version the user cares about orders above the
// installed one. The State bit only says the check found it news.
bool IsOutOfDate(const SoftwareInfo& p, bool ignore_beta) {
  if (!p.VerInstalled.IsPresent()) return false;
  return IsOlderVersion(p.VerInstalled, p.VerLatestStable) ||
         (!ignore_beta && IsOlderVersion(p.VerInstalled, p.VerLatestBeta));
}

// A count is pending only while its State bit is.
std::int32_t NewComments(const SoftwareInfo& p) {
  return p.State & service::state::kNewComments ? p.nNewComments : 0;
}
std::int32_t NewQuestions(const SoftwareInfo& p) {
  return p.State & service::state::kNewQuestions ? p.nNewQuestions : 0;
}

struct CheckReport {
  std::string site;
  const char* step = "check";  // where it stopped: "account", "refresh" or "check"
  AccountState account = AccountState::NoAccount;
  bool ok = false;
  RequestOutcome outcome;
  bool has_new_versions = false;
  service::RefreshChanges changes;
  std::vector<SoftwarePtr> newer;    // out of date
  std::vector<SoftwarePtr> pending;  // new comments or questions
  std::vector<service::NewsItem> news;
};

std::string NamesJson(const std::vector<std::string>& names) {
  std::string o = "[";
  for (std::size_t i = 0; i < names.size(); ++i) o += (i ? ", " : "") + JsonQuote(names[i]);
  return o + "]";
}

void PrintJson(const CheckReport& r) {
  const RequestOutcome& o = r.outcome;
  std::string s = "{\"site\": " + JsonQuote(r.site);
  s += std::string(", \"ok\": ") + (r.ok ? "true" : "false");
  s += ", \"step\": " + JsonQuote(r.step);
  s += ", \"account\": " + JsonQuote(AccountStateName(r.account));
  s += ", \"outcome\": " + JsonQuote(o.Text());
  // Why the network failed (a refused certificate, a time-out); the user's
  // text does not say.
  if (!o.network_reason()) s += ", \"reason\": " + JsonQuote(o.network_reason().ToString());
  s += ", \"kind\": " + std::to_string(static_cast<int>(o.kind()));
  s += ", \"code\": " + std::to_string(static_cast<int>(o.code()));
  s += ", \"update_url\": " + JsonQuote(o.update_url());
  s += ", \"installer_params\": " + JsonQuote(o.installer_params());
  s += std::string(", \"has_new_versions\": ") + (r.has_new_versions ? "true" : "false");
  s += ",\n \"refresh\": {\"merged\": " + std::string(r.changes.merged ? "true" : "false") +
       ", \"added\": " + NamesJson(r.changes.added) + ", \"updated\": " +
       NamesJson(r.changes.updated) + ", \"reinstalled\": " + NamesJson(r.changes.reinstalled) +
       ", \"removed\": " + NamesJson(r.changes.removed) + "}";
  s += ",\n \"newer\": [";
  for (std::size_t i = 0; i < r.newer.size(); ++i) {
    const SoftwareInfo& p = *r.newer[i];
    s += (i ? ",\n  " : "\n  ") + std::string("{\"name\": ") + JsonQuote(p.Name) +
         ", \"installed\": " + JsonQuote(FormatVersion(p.VerInstalled)) +
         ", \"stable\": " + JsonQuote(FormatVersion(p.VerLatestStable)) +
         ", \"beta\": " + JsonQuote(FormatVersion(p.VerLatestBeta)) +
         ", \"state\": " + std::to_string(p.State) + "}";
  }
  s += "],\n \"pending\": [";
  for (std::size_t i = 0; i < r.pending.size(); ++i) {
    const SoftwareInfo& p = *r.pending[i];
    s += (i ? ",\n  " : "\n  ") + std::string("{\"name\": ") + JsonQuote(p.Name) +
         ", \"new_comments\": " + std::to_string(NewComments(p)) +
         ", \"new_questions\": " + std::to_string(NewQuestions(p)) + "}";
  }
  s += "],\n \"news\": [";
  for (std::size_t i = 0; i < r.news.size(); ++i) {
    const service::NewsItem& n = r.news[i];
    s += (i ? ",\n  " : "\n  ") + std::string("{\"title\": ") + JsonQuote(n.title) +
         ", \"date\": " + JsonQuote(n.date) + ", \"url\": " + JsonQuote(n.url) + "}";
  }
  s += "]}\n";
  std::fwrite(s.data(), 1, s.size(), stdout);
}

void PrintText(const CheckReport& r) {
  const RequestOutcome& o = r.outcome;
  std::printf("%s: %s%s\n", r.site.c_str(), r.ok ? "" : (std::string(r.step) + " failed: ").c_str(),
              o.Text().c_str());
  if (!o.network_reason()) std::printf("reason  %s\n", o.network_reason().ToString().c_str());
  if (o.ResultCode() == service::AnswerCode::OldClientVersion) {
    std::printf("update address        %s\n", o.update_url().c_str());
    std::printf("installer parameters  %s\n", o.installer_params().c_str());
  }
  if (r.account == AccountState::LoginFailed || r.account == AccountState::RegistrationFailed) {
    std::printf("account %s: the user decides (kvdiag account guest | login | register)\n",
                AccountStateName(r.account));
  }
  if (!r.ok) return;
  const auto names = [](const char* what, const std::vector<std::string>& list) {
    for (const std::string& n : list) std::printf("  %s %s\n", what, n.c_str());
  };
  if (r.changes.merged) {
    std::printf("software list refreshed\n");
    names("added", r.changes.added);
    names("updated", r.changes.updated);
    names("reinstalled", r.changes.reinstalled);
    names("removed", r.changes.removed);
  }
  std::printf("\nNewer versions (%zu)%s\n", r.newer.size(),
              r.has_new_versions ? ", new since the last check" : "");
  if (!r.newer.empty()) {
    TableRows rows = {{"Name", "Installed", "Latest stable", "Latest beta", "Notified"}};
    for (const SoftwarePtr& p : r.newer)
      rows.push_back({p->Name, FormatVersion(p->VerInstalled), FormatVersion(p->VerLatestStable),
                      FormatVersion(p->VerLatestBeta),
                      p->State & service::state::kNewVersion ? "new" : ""});
    PrintColumns(rows, "  ");
  }
  std::printf("\nComments and questions (%zu)\n", r.pending.size());
  if (!r.pending.empty()) {
    TableRows rows = {{"Name", "New comments", "New questions"}};
    for (const SoftwarePtr& p : r.pending)
      rows.push_back({p->Name, std::to_string(NewComments(*p)), std::to_string(NewQuestions(*p))});
    PrintColumns(rows, "  ");
  }
  std::printf("\nSite news (%zu)\n", r.news.size());
  for (const service::NewsItem& n : r.news)
    std::printf("  %s  %s%s%s\n", n.date.c_str(), n.title.c_str(), n.url.empty() ? "" : "  ",
                n.url.c_str());
}

}  // namespace

int RunCheck(const Args& in) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok() || !dm.TakeDataOption(args) || !dm.ApplyMachineOption(args)) return 1;
  bool json = false;
  ServiceOptions service_options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") json = true;
    else if (!service_options.Take(args, i)) return UsageError(kUsage);
  }
  platform::Machine& machine = dm.machine();
  app::ServiceConfig config = app::ServiceConfig::Load(machine.registry);
  if (!service_options.Apply(config)) return 2;
  const bool ignore_beta = app::Settings(machine.registry).IgnoreBetaVersions();

  app::DataFolder folder(machine);
  service::MachineIdentity identity(folder);
  identity.Load();
  service::UserAccount account(folder, identity.GUID());
  account.Load();
  service::SoftwareListStore store(machine, folder);
  store.Load();
  service::SiteStats stats(folder);
  stats.Load();
  service::NewsInbox inbox;

  auto http = service_options.Transport();
  service::ServiceConnection connection(*http, config);
  const std::string build = service::OwnClientBuild(machine.shell);

  CheckReport r;
  r.site = config.site.Origin();
  if (account.state() == AccountState::NoAccount) account.ChooseGuest();  // a first run
  if (account.state() != AccountState::Ready) {
    const std::string bundled = app::Settings(machine.registry).BundledWithSN();
    account.SendAccountRequest(connection, build, bundled, &store);
  }
  r.account = account.state();
  if (r.account != AccountState::Ready) {
    r.step = "account";
    r.outcome = account.outcome();
  } else if (!store.Refresh()) {
    r.step = "refresh";
  } else {
    r.changes = store.last_changes();
    const service::CheckServices services{
        service::UploadSession{connection, account.Identity(), build},
        service::ReadReportEnvironment(machine),
        service::AnswerRules::From(config, ignore_beta),
        &account,
        &stats,
        &inbox,
        nullptr};
    r.ok = store.CheckUpdates(services, r.outcome);
    r.has_new_versions = store.has_new_versions();
    for (std::size_t i = 0; i < store.Count(); ++i) {
      SoftwarePtr p = store.At(i);
      if (IsOutOfDate(*p, ignore_beta)) r.newer.push_back(p);
      if (p->State & (service::state::kNewComments | service::state::kNewQuestions))
        r.pending.push_back(p);
    }
    r.news = inbox.items();
  }
  if (json) PrintJson(r);
  else PrintText(r);
  const bool saved = dm.SaveDataFolder();
  return r.ok && saved ? 0 : 1;
}

}  // namespace kv::diag
