#!/usr/bin/env bash
# Starts the tray client under Wine on a private Xvfb display and shows how
# to look at it:  tests/gui/demo.sh BUILD_DIR [SECONDS [COMMAND...]]
# It takes BUILD_DIR/gui/demo.png once the frame and its tray icon are up,
# runs COMMAND in the same prefix (default: kvdiag.exe softlist), keeps the
# client running for SECONDS (default 0), then ends it. KV_GUI_WINEPREFIX
# names the prefix (lib.sh).
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: tests/gui/demo.sh BUILD_DIR [SECONDS [COMMAND...]]}" && pwd)
seconds=${2:-0}
shift $(($# < 2 ? $# : 2))
out=$build/gui
mkdir -p "$out"
. "$repo/tests/gui/lib.sh"

status=0
start_client --
if kv wait-visible 1 20000 >/dev/null && kv wait-tray 5000 >/dev/null; then
  sleep 1
  import -window root "$out/demo.png"
  echo "demo: korvapp.exe runs on DISPLAY=:$display; screenshot: $out/demo.png"
  if [ $# -gt 0 ]; then
    "$@" || { echo "demo: $* failed"; status=1; }
  else
    echo "demo: the software list the client refreshed at start (kvdiag.exe softlist):"
    timeout 60 wine "$build/src/tools/kvdiag/kvdiag.exe" softlist </dev/null | tr -d '\r' || true
  fi
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
exit $status
