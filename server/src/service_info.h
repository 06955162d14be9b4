#pragma once
// The service's own name and version, for logs and the site footer.
namespace kv::server {
const char* ServiceName();
const char* ServiceVersion();
}  // namespace kv::server
