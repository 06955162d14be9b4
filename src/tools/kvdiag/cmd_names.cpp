#include "tools/kvdiag/commands.h"

namespace kv::diag {

int RunVersion(const Args&) { return UsageError("version: not built yet"); }
int RunName(const Args&) { return UsageError("name: not built yet"); }

}  // namespace kv::diag
