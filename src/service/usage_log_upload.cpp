#include "service/usage_log_upload.h"

namespace kv::service {

bool UsageLogUpload(app::ActivityLog& log, platform::FileSystem& files,
                    ServiceConnection& connection, const ClientIdentity& identity,
                    std::string_view client_build, RequestOutcome& outcome) {
  log.Flush().IgnoreError();  // what stays buffered goes out next time
  const std::string path = log.Path();
  if (path.empty() || !files.Exists(path)) return true;
  const std::string backup = path + ".bak";
  // A ".bak" left by an earlier failed upload goes first; the log then waits
  // for the next upload.
  if (!files.Move(path, backup, false) && !files.Exists(backup)) return false;

  outcome.Begin();
  auto bytes = files.ReadAll(backup);
  if (!bytes) return false;
  const bool accepted =
      connection.SendDocument(RequestMode::AddUsageLog, identity, client_build, *bytes, outcome)
          .has_value();
  if (accepted) return files.Delete(backup).ok();
  if (outcome.kind() == OutcomeKind::NetworkFailure) {
    // Back where it was, unless a new log has begun meanwhile: then the
    // ".bak" waits for the next upload.
    files.Move(backup, path, false).IgnoreError();
  }
  return false;
}

}  // namespace kv::service
