#pragma once
// The storage's transactions written once in SQL, over any SqlConnection.
#include <memory>
#include <string_view>

#include "storage/sql_connection.h"

namespace kv::server {

// The program columns in the order the transactions read them.
#define KV_PROGRAM_COLUMNS                                                                   \
  "id, match_key, name, publisher, short_name, publisher_short, home_page, stable_version, " \
  "beta_version, created_at"
// A program's counters, for a dialect's statement that names its id `pid`.
#define KV_COUNTERS_OF_PID                                                        \
  "(SELECT COUNT(DISTINCT user_id) FROM installs WHERE program_id = pid), "       \
  "(SELECT COUNT(*) FROM comments WHERE program_id = pid), "                      \
  "(SELECT COUNT(*) FROM ratings WHERE program_id = pid), "                       \
  "(SELECT COALESCE(SUM(rating), 0) FROM ratings WHERE program_id = pid)"

// Held by a transaction while it uses its connection; destroying it hands
// the connection back to its pool (and lets the next writer in).
class SqlLease {
 public:
  virtual ~SqlLease() = default;
};

// Runs `begin` on `c` and answers the transaction that then holds it. The
// dialect must outlive the transaction.
Result<std::unique_ptr<Transaction>> BeginSqlTransaction(SqlConnection& c, const SqlDialect& dialect,
                                                         std::unique_ptr<SqlLease> lease,
                                                         std::string_view begin);

}  // namespace kv::server
