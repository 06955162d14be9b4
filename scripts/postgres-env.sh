# Sourced: a throw-away PostgreSQL 15 server for tests and benchmarks, in a
# cluster of its own under a temporary folder, listening only on a Unix
# socket there (no TCP port), run as a user other than root.
#   kv_pg_start [--durable]   exports KV_TEST_POSTGRES (its "postgres" database)
#   kv_pg_stop
# Without --durable the server skips fsync: a test's data need not survive
# a power cut, and the tests run faster.
kv_pg_bin=${KV_PG_BIN:-/usr/lib/postgresql/15/bin}
kv_pg_dir=

kv_pg_as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

kv_pg_start() {
  local durable=0
  [ "${1:-}" = --durable ] && durable=1
  kv_pg_dir=$(mktemp -d /tmp/kvpg.XXXXXX)
  chmod 755 "$kv_pg_dir"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$kv_pg_dir"
  kv_pg_as_owner "$kv_pg_bin/initdb" -D "$kv_pg_dir/data" -U postgres --auth=trust \
    -E UTF8 --no-locale >"$kv_pg_dir/initdb.log" 2>&1 ||
    { cat "$kv_pg_dir/initdb.log" >&2; return 1; }
  local options="-c listen_addresses='' -k $kv_pg_dir -c max_connections=200"
  [ $durable -eq 1 ] || options="$options -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
  kv_pg_as_owner "$kv_pg_bin/pg_ctl" -D "$kv_pg_dir/data" -o "$options" \
    -l "$kv_pg_dir/server.log" -w -t 60 start >/dev/null ||
    { cat "$kv_pg_dir/server.log" >&2; return 1; }
  export KV_TEST_POSTGRES="postgresql://postgres@/postgres?host=$kv_pg_dir"
}

kv_pg_stop() {
  [ -n "$kv_pg_dir" ] || return 0
  kv_pg_as_owner "$kv_pg_bin/pg_ctl" -D "$kv_pg_dir/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$kv_pg_dir"
  kv_pg_dir=
  unset KV_TEST_POSTGRES
}
