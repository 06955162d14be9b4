#pragma once
// JSON output helpers shared by kvdiag commands.
#include "text/json.h"

namespace kv::diag {

using text::JsonQuote;

}  // namespace kv::diag
