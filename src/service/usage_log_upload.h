#pragma once
// Sends the activity log to the service and removes it once the service took
// it. The log is first renamed to "<log>.bak", so that lines written during
// the upload go to a new log; a failed upload leaves the ".bak" (or renames
// it back), and the next upload sends it first. Nothing written is lost at
// any step; the archive is made in memory, so no temporary file is left.
#include <string>
#include <string_view>

#include "app/activity_log.h"
#include "service/request_outcome.h"
#include "service/requests.h"

namespace kv::service {

// True when there was no log or the service accepted it. `outcome` says what
// happened to the request.
bool UsageLogUpload(app::ActivityLog& log, platform::FileSystem& files,
                    ServiceConnection& connection, const ClientIdentity& identity,
                    std::string_view client_build, RequestOutcome& outcome);

}  // namespace kv::service
