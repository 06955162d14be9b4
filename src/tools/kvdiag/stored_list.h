#pragma once
// What the commands over the stored software list share: their options
// ("[--json] [--data DIR] [--reg FILE...]") and the loaded list.
#include <functional>

#include "platform/machine.h"
#include "service/software_list_store.h"
#include "tools/kvdiag/commands.h"

namespace kv::diag {

// Loads the list of the machine the options name and runs `run` on it;
// the exit code is run's, or 1 or 2 on bad options.
int WithStoredList(
    const Args& args, const char* usage,
    const std::function<int(platform::Machine&, const service::SoftwareListStore&, bool json)>&
        run);

}  // namespace kv::diag
