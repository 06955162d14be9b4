#include "tools/kvdiag/commands.h"

namespace kv::diag {

int RunSettings(const Args&) { return UsageError("settings: not built yet"); }
int RunPaths(const Args&) { return UsageError("paths: not built yet"); }

}  // namespace kv::diag
