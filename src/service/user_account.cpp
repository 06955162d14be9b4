#include "service/user_account.h"

#include <utility>

#include "app/activity_log.h"
#include "app/shell_actions.h"
#include "service/form_poster.h"
#include "service/machine_identity.h"
#include "service/software_list_store.h"
#include "store/xml_writer.h"

namespace kv::service {
namespace {
constexpr char kFile[] = "login.xml";

// A query value as browsers and sites read it: everything but the unreserved
// characters escaped ("+" too, which a query would read as a blank).
std::string QueryEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                       b == '-' || b == '.' || b == '_' || b == '~';
    if (plain) {
      out += ch;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}
}  // namespace

UserAccount::UserAccount(app::DataFolder& data_folder, const std::string& machine_guid)
    : folder_(data_folder), machine_guid_(machine_guid) {}

UserAccount& UserAccount::Instance() {
  // Never destroyed: worker threads may still use it while the process ends.
  static UserAccount* account = [] {
    auto* folder = new app::DataFolder(platform::SystemMachine());
    folder->SetLog(&app::ActivityLog::Instance());
    auto* made = new UserAccount(*folder, MachineIdentity::Instance().GUID());
    made->Load();
    return made;
  }();
  return *account;
}

void UserAccount::Load() {
  {
    std::lock_guard lock(mutex_);
    if (r_.state != AccountState::NoAccount) return;
  }
  if (auto doc = store::LoadStore(folder_, kFile)) {
    if (const auto user = doc->Find("User")) ReadUserElement(*user);
  }
}

void UserAccount::ReadUserElement(const store::XmlElement& user) {
  std::lock_guard lock(mutex_);
  ReadUserInto(user, r_);
}

void UserAccount::ReadUserInto(const store::XmlElement& user, AccountRecord& r) {
  auto state = static_cast<std::int32_t>(r.state);
  AccountCounters& n = r.counters;
  const auto stats = [&](const store::XmlElement& e) {
    store::ReadFields(e, {{"NumberOfQuestions", &n.questions},
                          {"NumberOfAnswers", &n.answers},
                          {"NumberOfNewUnreadAnswers", &n.new_unread_answers},
                          {"NumberOfComments", &n.comments},
                          {"NumberOfReplies", &n.replies},
                          {"NumberOfNewUnreadReplies", &n.new_unread_replies},
                          {"NumberOfUnreadAnswers", &n.unread_answers},
                          {"NumberOfUnreadReplies", &n.unread_replies},
                          {"LastCheckUpdatesTime", &r.last_check_time},
                          {"LastSuccCheckUpdatesTime", &r.last_good_check_time}});
  };
  const auto settings = [&](const store::XmlElement& e) {
    store::ReadFields(e, {{"Notifications", &r.notifications}});
  };
  store::ReadFields(user, {{"State", &state},
                           {"Id", &r.id},
                           {"Login", &r.login},
                           {"Password", &r.password_digest},
                           {"Name", &r.name},
                           {"Email", &r.email},
                           {"UserPageURL", &r.page_url},
                           {"UserPictureURL", &r.picture_url},
                           {"IsGuest", &r.is_guest},
                           {"OldGuestId", &r.old_guest_id},
                           {"OldGuestPwd", &r.old_guest_password},
                           {"Stats", stats},
                           {"Settings", settings}});
  // A state no client writes is no account: the user is asked again.
  r.state = state >= 0 && state <= 6 ? static_cast<AccountState>(state) : AccountState::NoAccount;
}

void UserAccount::Save() {
  std::lock_guard lock(mutex_);
  SaveLocked();
}

void UserAccount::SaveLocked() {
  const AccountRecord r = r_;
  store::SaveStore(folder_, kFile, [&r](store::XmlWriter& w) {
    w.Open("", "User");
    w.Int32(" ", "State", static_cast<std::int32_t>(r.state));
    w.Text(" ", "Id", r.id);
    w.Text(" ", "Login", r.login);
    w.Text(" ", "Password", r.password_digest);
    w.Text(" ", "Name", r.name);
    w.Text(" ", "Email", r.email);
    w.Text(" ", "UserPageURL", r.page_url);
    w.Text(" ", "UserPictureURL", r.picture_url);
    w.Bool(" ", "IsGuest", r.is_guest);
    w.Text(" ", "OldGuestId", r.old_guest_id);
    w.Text(" ", "OldGuestPwd", r.old_guest_password);
    w.Open(" ", "Stats");
    const AccountCounters& n = r.counters;
    w.Int32("  ", "NumberOfQuestions", n.questions);
    w.Int32("  ", "NumberOfAnswers", n.answers);
    w.Int32("  ", "NumberOfNewUnreadAnswers", n.new_unread_answers);
    w.Int32("  ", "NumberOfComments", n.comments);
    w.Int32("  ", "NumberOfReplies", n.replies);
    w.Int32("  ", "NumberOfNewUnreadReplies", n.new_unread_replies);
    w.Int32("  ", "NumberOfUnreadAnswers", n.unread_answers);
    w.Int32("  ", "NumberOfUnreadReplies", n.unread_replies);
    w.UInt64("  ", "LastCheckUpdatesTime", r.last_check_time);
    w.UInt64("  ", "LastSuccCheckUpdatesTime", r.last_good_check_time);
    w.Close(" ", "Stats");
    w.Open(" ", "Settings");
    w.Int32("  ", "Notifications", r.notifications);
    w.Close(" ", "Settings");
    w.Close("", "User");
  }).IgnoreError();
}

platform::Result<std::string> UserAccount::Digest(std::string_view password) {
  // The UTF-8 bytes, so that a password with letters beyond ASCII digests
  // alike on every machine whatever its code page.
  return folder_.machine().ids.Md5Hex(password);
}

void UserAccount::ForgetProfileLocked() {
  r_.page_url.clear();
  r_.picture_url.clear();
  r_.counters = {};
}

void UserAccount::KeepGuestLocked() {
  if (r_.state == AccountState::Ready && r_.is_guest) {
    r_.old_guest_id = r_.id;
    r_.old_guest_password = r_.password_digest;
  }
}

void UserAccount::ChooseGuest() {
  std::lock_guard lock(mutex_);
  ++changes_;
  ForgetProfileLocked();
  r_.name.clear();
  r_.email.clear();
  r_.login.clear();
  if (r_.is_guest && !r_.old_guest_id.empty()) {
    // Back to the guest account it had (and its data on the service).
    r_.id = std::exchange(r_.old_guest_id, std::string());
    r_.password_digest = std::exchange(r_.old_guest_password, std::string());
    r_.state = AccountState::Ready;
  } else {
    r_.password_digest.clear();
    r_.id.clear();
    r_.state = AccountState::GuestWanted;
  }
  SaveLocked();
}

platform::Status UserAccount::Register(std::string_view email, std::string_view password,
                                       std::string_view name) {
  return StartPersonal(AccountState::Registering, email, password, name);
}

platform::Status UserAccount::LogIn(std::string_view email, std::string_view password) {
  return StartPersonal(AccountState::LoggingIn, email, password, {});
}

platform::Status UserAccount::StartPersonal(AccountState state, std::string_view email,
                                            std::string_view password, std::string_view name) {
  auto digest = Digest(password);
  if (!digest) return digest.status();
  std::lock_guard lock(mutex_);
  ++changes_;
  KeepGuestLocked();
  ForgetProfileLocked();
  r_.state = state;
  r_.id.clear();
  r_.login = std::string(email);
  r_.email = std::string(email);
  r_.password_digest = std::move(digest).value();
  r_.name = std::string(name);
  SaveLocked();
  return platform::Status::Ok();
}

void UserAccount::ClearCheckTimes(bool save) {
  std::lock_guard lock(mutex_);
  r_.last_check_time = 0;
  r_.last_good_check_time = 0;
  if (save) SaveLocked();
}

bool UserAccount::SendAccountRequest(ServiceConnection& connection, std::string_view client_build,
                                     std::string_view bundled_with, SoftwareListStore* list) {
  AccountRecord r;
  std::uint64_t changes = 0;
  {
    std::lock_guard lock(mutex_);
    if (r_.state != AccountState::GuestWanted && r_.state != AccountState::Registering &&
        r_.state != AccountState::LoggingIn) {
      return false;  // none due: nothing changes
    }
    r_.last_check_time = 0;
    r_.last_good_check_time = 0;
    SaveLocked();
    r = r_;
    changes = changes_;
  }
  FormPoster form(connection.transport());
  RequestMode mode;
  if (r.state == AccountState::GuestWanted) {
    form.AddField("client_build", client_build);
    form.AddField("GUID", machine_guid_);
    form.AddField("bundled_with", bundled_with);
    mode = RequestMode::AddGuest;
  } else if (r.state == AccountState::Registering) {
    AddIdentityFields(form, {r.id, machine_guid_, r.email, r.password_digest}, client_build);
    form.AddField("bundled_with", bundled_with);
    if (r.is_guest && !r.old_guest_id.empty()) {
      form.AddField("id", r.old_guest_id);
      form.AddField("guest_password", r.old_guest_password);
    }
    form.AddField("name", r.name);
    mode = RequestMode::AddUser;
  } else {
    form.AddField("client_build", client_build);
    form.AddField("GUID", machine_guid_);
    form.AddField("email", r.email);
    form.AddField("password", r.password_digest);
    form.AddField("bundled_with", bundled_with);
    mode = RequestMode::GetId;
  }

  RequestOutcome outcome;
  outcome.Begin();
  outcome.SetNetworkFailure();
  AccountRecord answered = r;
  bool ok = false;
  if (const auto answer = connection.Exchange(mode, form, outcome)) {
    outcome.SetInvalidAnswer();
    if (const auto user = answer->Find("KV/User")) {
      ReadUserInto(*user, answered);
      ok = !answered.id.empty() && !answered.password_digest.empty();
    }
    if (ok) outcome.SetSucceeded();
  }
  bool changed_account = false;
  {
    std::lock_guard lock(mutex_);
    outcome_ = outcome;
    // The user chose again meanwhile: that choice stands.
    if (changes != changes_) return false;
    if (ok) {
      changed_account = answered.is_guest && r.state == AccountState::Registering &&
                        answered.id != answered.old_guest_id;
      answered.is_guest = r.state == AccountState::GuestWanted;
      answered.old_guest_id.clear();
      answered.old_guest_password.clear();
      answered.state = AccountState::Ready;
      r_ = answered;
    } else if (r.state == AccountState::Registering) {
      r_.state = AccountState::RegistrationFailed;
    } else if (r.state == AccountState::LoggingIn) {
      r_.state = AccountState::LoginFailed;
    }
    SaveLocked();
  }
  if (changed_account && list) list->ClearServerVersions();
  return ok;
}

std::string UserAccount::LoggedInUrl(std::string_view url) const {
  const AccountRecord r = record();
  const std::string& login = r.login.empty() ? r.id : r.login;
  if (login.empty() || r.password_digest.empty()) return std::string(url);
  std::string_view base = url, fragment;
  if (url.find('/') != std::string_view::npos) {
    if (const std::size_t hash = url.rfind('#'); hash != std::string_view::npos) {
      base = url.substr(0, hash);
      fragment = url.substr(hash);
    }
  }
  // Escaped, so that an e-mail address with "+" or "&" keeps its meaning.
  return std::string(base) + "?login=" + QueryEscape(login) + "&pwd=" + QueryEscape(r.password_digest) +
         std::string(fragment);
}

void UserAccount::OpenLoggedIn(std::string_view url) const {
  app::OpenUrl(folder_.machine(), LoggedInUrl(url));
}

ClientIdentity UserAccount::Identity() const {
  const AccountRecord r = record();
  return {r.id, machine_guid_, r.email, r.password_digest};
}

RequestOutcome UserAccount::outcome() const {
  std::lock_guard lock(mutex_);
  return outcome_;
}

AccountRecord UserAccount::record() const {
  std::lock_guard lock(mutex_);
  return r_;
}

AccountState UserAccount::state() const {
  std::lock_guard lock(mutex_);
  return r_.state;
}

}  // namespace kv::service
