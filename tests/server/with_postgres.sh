#!/usr/bin/env bash
# Runs a command (a test binary) with a PostgreSQL server of its own:
# KV_TEST_POSTGRES names it while the command runs; it is gone after.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/postgres-env.sh"
trap kv_pg_stop EXIT
kv_pg_start
"$@"
