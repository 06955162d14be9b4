#pragma once
// The protocol: one handler per mode, each one transaction. A request that
// fails for any reason (credentials, a malformed archive, a limit) gets an
// answer with its `Result` code and changes nothing.
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "accounts/attempt_limiter.h"
#include "accounts/credentials.h"
#include "protocol/answer.h"
#include "protocol/fields.h"
#include "protocol/limits.h"
#include "storage/storage.h"

namespace kv::server {

struct ServiceOptions {
  // Clients below this build are told to update (0: none are).
  int min_build = 0;
  std::string update_url;
  std::string installer_params;
  // A version counts as released once this many machines have it installed.
  int learn_threshold = 2;
  // The site's origin for users' page addresses ("http://localhost:8080").
  std::string site_origin = "http://localhost:8080";
  std::size_t usage_log_cap = 1u << 20;  // bytes kept per machine
  // Per address and minute (0: no limit): failed credential checks, new
  // accounts (guests and registrations); each costs a slow hash.
  int failed_sign_ins_per_minute = 20;
  int new_accounts_per_minute = 60;
  RequestLimits limits;
};

class ProtocolService {
 public:
  using Clock = std::function<std::int64_t()>;  // seconds since 1970

  ProtocolService(Storage& storage, Credentials& credentials, ServiceOptions options,
                  Clock clock = {});

  // Brings the stored per-program stats in line with these options (the
  // learned versions depend on the threshold). Once, before serving.
  Status Prepare();

  // The answer body for one request of `mode` from address `peer`.
  std::string Handle(std::string_view mode, const RequestFields& fields,
                     std::string_view peer = {});
  // The answer to a request that could not be read at all.
  static std::string Malformed(std::string_view why);

  const ServiceOptions& options() const { return options_; }

 private:
  struct Context;

  // Checks the identity fields (the slow check, limited per address).
  void Authenticate(Context& c);
  // The same when the credential was verified lately; false when the slow
  // check is needed.
  bool AuthenticateQuickly(Context& c, Transaction& read);
  void BeginWrite(Context& c);
  void TouchMachine(Context& c);
  void RefreshStats(Transaction& tx, std::span<const Id> programs);
  SiteCounts CachedCounts(Transaction& tx, std::int64_t now);
  AnswerDocument CheckUpdatesAnswer(Context& c, Transaction& tx);
  std::string GetId(Context& c);
  std::string AddGuest(Context& c);
  std::string AddUser(Context& c);
  std::string AddPrograms(Context& c);
  std::string CheckUpdates(Context& c);
  std::string UploadIcons(Context& c);
  std::string AddComment(Context& c);
  std::string RateProgram(Context& c);
  std::string AddExtensions(Context& c);
  std::string AddUsageLog(Context& c);

  Storage& storage_;
  Credentials& credentials_;
  ServiceOptions options_;
  Clock clock_;
  AttemptLimiter failed_sign_ins_;
  AttemptLimiter new_accounts_;
  // The site's totals change slowly and cost a count of whole tables.
  std::mutex counts_mutex_;
  SiteCounts counts_;
  std::int64_t counts_time_ = -1;
};

}  // namespace kv::server
