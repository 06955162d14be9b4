#pragma once
// The embedded default storage: one SQLite database file in WAL mode, one
// writer connection (write transactions take turns) and a pool of reader
// connections that see the last committed state while a write runs. Every
// statement is prepared once per connection and bound, never built from
// input. The schema is migrated forward when the database is opened.
#include <memory>
#include <string>

#include "storage/storage.h"

namespace kv::server {

// Opens (creating when missing) the database at `path`; ":memory:" is not
// supported (readers need the file). The folder must exist.
Result<std::unique_ptr<Storage>> OpenSqliteStorage(const std::string& path);

}  // namespace kv::server
