#!/usr/bin/env bash
# The main job: the client checking a real service for new versions.
# Sets up, builds the Windows client and the native korvan-service, starts
# the service on loopback with a database of its own, prepares a private
# Wine prefix with a handful of installed programs (tests/e2e/machine) whose
# client points at that service, and runs a first check so the service
# learns them. Then the catalogue gets newer versions of two of them, the
# tray client starts on a private Xvfb display (screenshot
# build/mingw/gui/demo.png), and a second check run beside it prints which
# programs are out of date. Everything started is stopped at the end.
#   bash scripts/run.sh [SECONDS]   keeps the client up for SECONDS to look at
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-0}
bash scripts/setup.sh >/dev/null
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target korvan-service >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2 --target korvapp kvdiag kvgui >/dev/null

start=$SECONDS
service=$here/build/native/server/korvan-service
kvdiag=$here/build/mingw/src/tools/kvdiag/kvdiag.exe
fixture=tests/e2e/machine
work=$(mktemp -d /tmp/korvan-run.XXXXXX)
db=$work/korvan.db
# A prefix and home of their own: the prefix's Desktop links into $HOME.
export WINEPREFIX=$work/prefix KV_GUI_WINEPREFIX=$work/prefix HOME=$work/home
mkdir -p "$HOME"
. scripts/wine-env.sh

service_pid=
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  kv_wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

# WinINet takes the proxy from these under Wine; loopback must not use one.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
"$service" serve --db "$db" --listen 127.0.0.1:0 >"$work/service.log" 2>&1 &
service_pid=$!
site=
for _ in $(seq 100); do  # up to 10 s
  site=$(sed -n 's|^korvan-service: serving \(http://[^/]*\)/.*|\1|p' "$work/service.log")
  [ -n "$site" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$site" ] || { cat "$work/service.log"; echo "run: korvan-service did not start" >&2; exit 1; }
echo "run: korvan-service on $site, database $db"

kvdiag() { timeout 60 wine "$kvdiag" "$@" </dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
timeout 120 bash -c '. scripts/wine-env.sh && kv_wine_start'
kvdiag prepare-machine "$fixture/machine.json" --reg "$fixture/programs.reg" >/dev/null
app_key='HKCU\Software\Tavrin Technologies, Inc.\Korvan'
for value in SiteUrl UploadUrl; do
  timeout 30 wine reg add "$app_key" /v "$value" /d "$site" /f </dev/null >/dev/null 2>&1
done
echo "run: prefix with the programs of $fixture ready in $((SECONDS - start)) s"

echo "run: first check (the service learns the programs)"
kvdiag check

# Newer stable versions of two of them, by the names the service knows,
# and a piece of site news.
echo
for program in "Ledgerly=6.0" "Kestrel FTP=3.1"; do
  "$service" catalogue set "${program%%=*}" --stable "${program#*=}" --db "$db"
done
"$service" news add "Korvan now checks for new versions" --db "$db" >/dev/null

echo
# The second check runs while the tray client is up, in its prefix.
bash tests/gui/demo.sh build/mingw "$seconds" \
  bash -c 'echo "run: second check"; timeout 60 wine "$0" check </dev/null | tr -d "\r"; exit "${PIPESTATUS[0]}"' "$kvdiag"
echo "run: done in $((SECONDS - start)) s after the build"
