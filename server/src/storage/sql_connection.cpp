#include "storage/sql_connection.h"

#include "storage/schema.h"

namespace kv::server {

int ReadSchemaVersion(SqlConnection& c, Status* failure) {
  SqlQuery q(c, "SELECT version FROM schema_version");
  const int version = q.Next() ? static_cast<int>(q.Int(0)) : 0;
  if (failure) *failure = q.status();
  return version;
}

Status MigrateSchema(SqlConnection& c, std::string_view begin, std::string_view key_type,
                     std::string_view blob_type) {
  if (Status s = c.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"); !s)
    return s;
  const auto& migrations = SchemaMigrations();
  for (;;) {
    if (Status s = c.Exec(begin); !s) return s;
    Status read;
    const int version = ReadSchemaVersion(c, &read);
    if (!read) {
      c.Exec("ROLLBACK").IgnoreError();
      return read;
    }
    if (version >= static_cast<int>(migrations.size())) return c.Exec("COMMIT");
    std::string sql(migrations[static_cast<std::size_t>(version)]);
    for (auto [from, to] : {std::pair{std::string_view("%KEY%"), key_type},
                            std::pair{std::string_view("%BLOB%"), blob_type}}) {
      for (std::size_t at; (at = sql.find(from)) != std::string::npos;) sql.replace(at, from.size(), to);
    }
    Status s = c.Exec(sql);
    if (s) {
      SqlQuery q(c, version == 0 ? "INSERT INTO schema_version (version) VALUES (?)"
                                 : "UPDATE schema_version SET version = ?");
      s = q.Bind(std::int64_t{version + 1}).Run();
    }
    if (s) s = c.Exec("COMMIT");
    if (!s) {
      c.Exec("ROLLBACK").IgnoreError();  // the migration did not happen
      return Status::Error(s.kind(), "schema migration " + std::to_string(version + 1) +
                                         " failed: " + s.message());
    }
  }
}

}  // namespace kv::server
