#include "service_info.h"

namespace kv::server {
const char* ServiceName() { return "korvan-service"; }
const char* ServiceVersion() { return "1.0"; }
}  // namespace kv::server
