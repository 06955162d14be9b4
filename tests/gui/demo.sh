#!/usr/bin/env bash
# Starts the tray client under Wine on a private Xvfb display and shows how
# to look at it:  tests/gui/demo.sh BUILD_DIR [SECONDS]
# It takes BUILD_DIR/gui/demo.png once the frame and its tray icon are up,
# keeps the client running for SECONDS (default 0), then ends it.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: tests/gui/demo.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-0}
out=$build/gui
mkdir -p "$out"
. "$repo/tests/gui/lib.sh"

start_client --
if kv wait-visible 1 20000 >/dev/null && kv wait-tray 5000 >/dev/null; then
  sleep 1
  import -window root "$out/demo.png"
  echo "demo: korvapp.exe runs on DISPLAY=:$display; screenshot: $out/demo.png"
  echo "demo: the software list the client refreshed at start (kvdiag.exe softlist):"
  timeout 60 wine "$build/src/tools/kvdiag/kvdiag.exe" softlist </dev/null | tr -d '\r' || true
  if [ "$seconds" -gt 0 ]; then
    echo "demo: take another with: DISPLAY=:$display import -window root shot.png"
    sleep "$seconds"
  fi
else
  echo "demo: the client did not come up"
  exit 1
fi
kv shutdown >/dev/null
sleep 2
