#!/usr/bin/env bash
# The service load test over PostgreSQL: a server of its own (with fsync,
# as an operator would run it), an empty database, the same arguments as
# service_load. Usage: bench/service_load_postgres.sh [users requests threads [check|add]]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${KV_BENCH_BIN:-$here/build/native-release/bench/service_load}
. "$here/scripts/postgres-env.sh"
trap kv_pg_stop EXIT
kv_pg_start --durable
KV_BENCH_DB=$KV_TEST_POSTGRES "$bin" "$@"
