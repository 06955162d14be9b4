#pragma once
// The user's account with the service: a guest account the service makes on
// request, or a personal one (an e-mail address and the MD5 digest of the
// password; the typed password is never stored or sent). Kept in
// "login.xml". The check worker drives its states; the dialogs set them.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "app/data_folder.h"
#include "platform/status.h"
#include "service/request_outcome.h"
#include "service/requests.h"
#include "store/xml_store.h"

namespace kv::service {

class SoftwareListStore;

// What the next check does about the account (the values are stored).
enum class AccountState : std::int32_t {
  NoAccount = 0,           // not loaded / none yet
  GuestWanted = 1,         // "add_guest"
  Registering = 2,         // "add_user"
  LoggingIn = 3,           // "get_id"
  Ready = 4,
  LoginFailed = 5,
  RegistrationFailed = 6,
};

// The user's activity on the site, as the service last sent it.
struct AccountCounters {
  std::int32_t questions = 0, answers = 0, new_unread_answers = 0, comments = 0, replies = 0,
               new_unread_replies = 0, unread_answers = 0, unread_replies = 0;
};

struct AccountRecord {
  AccountState state = AccountState::NoAccount;
  std::string id, login, password_digest, name, email, page_url, picture_url;
  bool is_guest = false;
  std::string old_guest_id, old_guest_password;
  AccountCounters counters;
  std::uint64_t last_check_time = 0;       // FILETIME, local time (the scheduler's)
  std::uint64_t last_good_check_time = 0;  // FILETIME
  std::int32_t notifications = 0;          // notification settings word
};

class UserAccount {
 public:
  UserAccount(app::DataFolder& data_folder, const std::string& machine_guid);
  UserAccount(const UserAccount&) = delete;
  UserAccount& operator=(const UserAccount&) = delete;

  // The process-wide account on the system machine, loaded on first use.
  static UserAccount& Instance();

  // "login.xml" (or its ".bak"); only while the state is NoAccount.
  void Load();
  void Save();
  // Every child of a `User` element that is present replaces the stored
  // value; `Stats` and `Settings` are read the same way.
  void ReadUserElement(const store::XmlElement& user);

  // The first-run choice: a guest account is wanted; a guest that tried to
  // register or sign in and failed gets its own account back. Saves.
  void ChooseGuest();
  // A personal account to register. A guest that had its account ready keeps
  // its credentials, to hand its data over (and to go back to). Saves.
  platform::Status Register(std::string_view email, std::string_view password,
                            std::string_view name);
  // An existing account to sign in to (a ready guest's credentials kept as
  // for Register). Saves.
  platform::Status LogIn(std::string_view email, std::string_view password);
  void ClearCheckTimes(bool save);

  // The request the state calls for ("add_guest", "add_user", "get_id");
  // false when none is due (nothing changes) or it failed (outcome() says
  // why). A failed registration or sign-in moves to its failed state; a
  // failed guest request stays wanted and the next check asks again. When
  // the user changed the account while the request ran, its answer is
  // dropped and the new choice stands. `list`, when given,
  // forgets the service's versions when the account changed, so that the next
  // report sends every program to the new account.
  bool SendAccountRequest(ServiceConnection& connection, std::string_view client_build,
                          std::string_view bundled_with, SoftwareListStore* list = nullptr);

  // `url` with the site-login query ("?login=...&pwd=...", escaped) before
  // its fragment; unchanged without a login or digest.
  std::string LoggedInUrl(std::string_view url) const;
  // Opens LoggedInUrl(url) in the browser, so that the site knows the user.
  void OpenLoggedIn(std::string_view url) const;

  // Who the next request is from.
  ClientIdentity Identity() const;
  AccountRecord record() const;
  AccountState state() const;
  RequestOutcome outcome() const;

 private:
  void SaveLocked();
  static void ReadUserInto(const store::XmlElement& user, AccountRecord& r);
  // Forgets what the service said about the previous account.
  void ForgetProfileLocked();
  // Keeps a ready guest's credentials while another account is tried.
  void KeepGuestLocked();
  // Register and LogIn: a personal account in `state`, saved.
  platform::Status StartPersonal(AccountState state, std::string_view email,
                                 std::string_view password, std::string_view name);
  platform::Result<std::string> Digest(std::string_view password);

  app::DataFolder& folder_;
  const std::string machine_guid_;
  mutable std::mutex mutex_;
  AccountRecord r_;
  std::uint64_t changes_ = 0;  // the user's own changes, so a late answer cannot undo one
  RequestOutcome outcome_;
};

}  // namespace kv::service
