// kvdiag account: the machine identifier and the account as the client holds
// them (never the password digest), and the account requests run at once
// against the configured service. The password is read from standard input,
// so that it shows in no command line or process list.
#include <cstdio>
#include <iostream>
#include <string>

#include "app/data_folder.h"
#include "app/service_config.h"
#include "app/settings.h"
#include "platform/http_transport.h"
#include "service/machine_identity.h"
#include "service/requests.h"
#include "service/user_account.h"
#include "text/format.h"
#include "tools/kvdiag/commands.h"
#include "tools/kvdiag/diag_machine.h"
#include "tools/kvdiag/json_out.h"
#include "tools/kvdiag/service_options.h"

namespace kv::diag {
namespace {

using service::AccountState;

constexpr const char* kUsage =
    "account [--json] [--data DIR] [--site URL] [--ca FILE] [guest | login EMAIL | register EMAIL NAME]";

void PrintAccount(const std::string& guid, const service::AccountRecord& r, bool json) {
  const service::AccountCounters& n = r.counters;
  if (json) {
    std::printf(
        "{\"machine\": %s, \"state\": %d, \"state_name\": %s, \"id\": %s, \"login\": %s, "
        "\"email\": %s, \"name\": %s, \"guest\": %s, \"password_set\": %s, \"page\": %s, "
        "\"questions\": %d, \"answers\": %d, \"new_unread_answers\": %d, \"comments\": %d, "
        "\"replies\": %d, \"new_unread_replies\": %d, \"last_check\": %llu, "
        "\"last_good_check\": %llu}\n",
        JsonQuote(guid).c_str(), static_cast<int>(r.state),
        JsonQuote(AccountStateName(r.state)).c_str(),
        JsonQuote(r.id).c_str(), JsonQuote(r.login).c_str(), JsonQuote(r.email).c_str(),
        JsonQuote(r.name).c_str(), r.is_guest ? "true" : "false",
        r.password_digest.empty() ? "false" : "true", JsonQuote(r.page_url).c_str(), n.questions,
        n.answers, n.new_unread_answers, n.comments, n.replies, n.new_unread_replies,
        static_cast<unsigned long long>(r.last_check_time),
        static_cast<unsigned long long>(r.last_good_check_time));
    return;
  }
  std::printf("machine   %s\n", guid.empty() ? "(none)" : guid.c_str());
  std::printf("state     %d (%s)\n", static_cast<int>(r.state), AccountStateName(r.state));
  std::printf("id        %s%s\n", r.id.c_str(), r.is_guest ? " (guest)" : "");
  std::printf("login     %s\n", r.login.c_str());
  std::printf("name      %s\n", r.name.c_str());
  std::printf("password  %s\n", r.password_digest.empty() ? "not set" : "set");
  std::printf("page      %s\n", r.page_url.c_str());
  std::printf("counters  questions %d, answers %d (%d new unread), comments %d, replies %d (%d new unread)\n",
              n.questions, n.answers, n.new_unread_answers, n.comments, n.replies,
              n.new_unread_replies);
}

}  // namespace

const char* AccountStateName(AccountState s) {
  switch (s) {
    case AccountState::NoAccount: return "none";
    case AccountState::GuestWanted: return "guest wanted";
    case AccountState::Registering: return "registering";
    case AccountState::LoggingIn: return "signing in";
    case AccountState::Ready: return "ready";
    case AccountState::LoginFailed: return "sign-in failed";
    case AccountState::RegistrationFailed: return "registration failed";
  }
  return "?";
}

int RunAccount(const Args& in) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok() || !dm.TakeDataOption(args)) return 1;
  bool json = false;
  ServiceOptions service_options;
  Args words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") json = true;
    else if (service_options.Take(args, i)) continue;
    else if (args[i].rfind("--", 0) == 0) return UsageError(kUsage);
    else words.push_back(args[i]);
  }
  const std::string action = words.empty() ? "" : words[0];
  if (!(words.empty() || (action == "guest" && words.size() == 1) ||
        (action == "login" && words.size() == 2) || (action == "register" && words.size() == 3))) {
    return UsageError(kUsage);
  }
  app::ServiceConfig config = app::ServiceConfig::Load(dm.machine().registry);
  if (!service_options.Apply(config)) return 2;

  app::DataFolder folder(dm.machine());
  service::MachineIdentity identity(folder);
  identity.Load();
  service::UserAccount account(folder, identity.GUID());
  account.Load();
  if (!words.empty()) {
    std::string password;
    if (action != "guest") {
      std::fprintf(stderr, "password: ");
      std::getline(std::cin, password);
      if (!password.empty() && password.back() == '\r') password.pop_back();
      if (password.empty()) {
        std::fprintf(stderr, "kvdiag: no password on standard input\n");
        return 2;
      }
    }
    platform::Status changed;
    if (action == "guest") account.ChooseGuest();
    else if (action == "login") changed = account.LogIn(words[1], password);
    else changed = account.Register(words[1], password, words[2]);
    if (!changed) {
      PrintFailure("change", "the account", changed);
      return 1;
    }
    auto http = service_options.Transport();
    service::ServiceConnection connection(*http, config);
    const std::string build = service::OwnClientBuild(dm.machine().shell);
    const std::string bundled = app::Settings(dm.machine().registry).BundledWithSN();
    const bool sent = account.SendAccountRequest(connection, build, bundled);
    // With --json only the record goes to standard output.
    std::fprintf(json ? stderr : stdout, "%s: %s\n", config.site.Origin().c_str(),
                 account.outcome().Text().c_str());
    PrintAccount(identity.GUID(), account.record(), json);
    if (!dm.SaveDataFolder()) return 1;
    return sent ? 0 : 1;
  }
  PrintAccount(identity.GUID(), account.record(), json);
  return dm.SaveDataFolder() ? 0 : 1;
}

}  // namespace kv::diag
