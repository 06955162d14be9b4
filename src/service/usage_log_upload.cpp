#include "service/usage_log_upload.h"

namespace kv::service {
namespace {

enum class Sent { Nothing, Accepted, Failed };

// Sends one file: the ".bak" left by an earlier upload, or else the log
// renamed to the ".bak".
Sent SendOnce(platform::FileSystem& files, const std::string& path, ServiceConnection& connection,
              const ClientIdentity& identity, std::string_view client_build,
              RequestOutcome& outcome) {
  const std::string backup = path + ".bak";
  if (!files.Exists(backup)) {
    if (!files.Exists(path)) return Sent::Nothing;
    if (!files.Move(path, backup, false)) return Sent::Failed;
  }
  auto bytes = files.ReadAll(backup);
  if (!bytes) return Sent::Failed;
  if (connection.SendDocument(RequestMode::AddUsageLog, identity, client_build, *bytes, outcome)) {
    return files.Delete(backup) ? Sent::Accepted : Sent::Failed;
  }
  if (outcome.kind() == OutcomeKind::NetworkFailure) {
    // Back where it was, unless a new log has begun meanwhile: then the
    // ".bak" goes first next time.
    files.Move(backup, path, false).IgnoreError();
  }
  return Sent::Failed;
}

}  // namespace

bool UsageLogUpload(app::ActivityLog& log, platform::FileSystem& files,
                    ServiceConnection& connection, const ClientIdentity& identity,
                    std::string_view client_build, RequestOutcome& outcome) {
  outcome.Begin();
  if (log.disabled()) return true;  // with the log off nothing is sent
  log.Flush().IgnoreError();        // what stays buffered goes out next time
  const std::string path = log.Path();
  if (path.empty()) return true;
  // A ".bak" from an earlier failure first, then the current log.
  bool sent = false;
  for (int round = 0; round < 2; ++round) {
    if (round > 0) outcome.Begin();
    switch (SendOnce(files, path, connection, identity, client_build, outcome)) {
      case Sent::Nothing:
        if (sent) outcome.SetSucceeded();
        return true;
      case Sent::Failed:
        return false;
      case Sent::Accepted:
        sent = true;
        break;
    }
  }
  return true;
}

}  // namespace kv::service
