#!/usr/bin/env bash
# Sets up the machine, builds both targets and runs every test suite:
# native unit tests (also under AddressSanitizer/UBSan), then the Windows
# build's unit and integration tests under Wine, then the GUI tests.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

step() { printf '\n== %s (%ss)\n' "$*" "$SECONDS"; }

step setup
bash scripts/setup.sh

step "native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

step "native tests under AddressSanitizer and UBSan"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j "$jobs"
ctest --preset native-asan -j "$jobs"

step "Windows build (mingw-w64)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"

step "test HTTP server for the WinINet tests"
http_dir=$(mktemp -d)
build/native/tests/http_server/kv_test_http_server --port-file "$http_dir/port" --tls-name localhost \
  >/dev/null &
http_pid=$!
stop_http() {
  if [ -n "$http_pid" ]; then
    kill "$http_pid" 2>/dev/null || true
    wait "$http_pid" 2>/dev/null || true
    http_pid=
  fi
  rm -rf "$http_dir"
}
trap stop_http EXIT
for _ in $(seq 100); do  # up to 10 s
  [ -s "$http_dir/port" ] && break
  kill -0 "$http_pid" 2>/dev/null || break  # it died
  sleep 0.1
done
KV_TEST_HTTP=$(sed -n 's/^KV_TEST_HTTP=//p' "$http_dir/port" 2>/dev/null || true)
[ -n "$KV_TEST_HTTP" ] || { echo "the test HTTP server did not start" >&2; exit 1; }
export KV_TEST_HTTP
# Its certificate, as the Windows tests name the file.
KV_TEST_HTTP_CA="Z:$(printf '%s' "$http_dir/port.pem" | tr / '\\')"
export KV_TEST_HTTP_CA

step "Windows tests under Wine"
. scripts/wine-env.sh
trap 'stop_http; kv_wine_stop' EXIT
kv_wine_start
# WinINet takes the proxy from these under Wine; loopback must not use one.
env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
  ctest --preset mingw

kv_wine_stop
stop_http

step "end-to-end inventory: native replay and a prepared Wine prefix"
bash tests/e2e/run.sh all
bash tests/integration/uninstall_prefix.sh

step "the site's pages in headless Chromium"
bash tests/site/browser_test.sh "$here/build/native"

step "GUI tests under Wine and Xvfb"
bash tests/gui/run.sh "$here/build/mingw"

step "all tests passed"
