#pragma once
// The schema, as numbered migrations. The SQL keeps to what SQLite and
// PostgreSQL both accept (BIGINT keys, TEXT, no AUTOINCREMENT), apart from
// the key columns that each backend declares its own way: "%KEY%" stands for
// an integer primary key that numbers itself and "%BLOB%" for binary data.
#include <string_view>
#include <vector>

namespace kv::server {

// Migration N (1-based) brings the schema from version N-1 to N.
const std::vector<std::string_view>& SchemaMigrations();

}  // namespace kv::server
