#pragma once
// Storage in a PostgreSQL database, for operators who run several service
// processes (on one machine or many) over one database. Each transaction
// takes a connection of a pool; write transactions take turns across every
// process through one advisory lock, as SQLite's writers take turns within
// one, so that what a request reads and then writes is never overtaken by
// another process. Read transactions see one snapshot and run beside them.
// The schema is migrated forward when the storage is opened; processes that
// start at once wait for each other's migrations.
#include <memory>
#include <string>
#include <string_view>

#include "storage/storage.h"

namespace kv::server {

// `conninfo`: a "postgresql://" (or "postgres://") address.
Result<std::unique_ptr<Storage>> OpenPostgresStorage(const std::string& conninfo);

// Whether `database` names a PostgreSQL database rather than a SQLite file.
bool IsPostgresAddress(std::string_view database);

// The database as logs and messages may show it: a password in a
// PostgreSQL address is replaced by "*".
std::string DatabaseForDisplay(std::string_view database);

// A PostgreSQL address opens PostgreSQL; anything else is a SQLite file.
Result<std::unique_ptr<Storage>> OpenStorage(const std::string& database);

}  // namespace kv::server
