#!/usr/bin/env bash
# GUI tests of korvapp.exe under Wine on a private Xvfb display, inside
# `wine explorer /desktop=shell` (a desktop with a taskbar and a tray).
# The client is driven by window messages through kvgui.exe.
#   tests/gui/run.sh BUILD_DIR      (the mingw build folder, e.g. build/mingw)
# Leaves BUILD_DIR/gui/frame.png (the shown frame) and startup.png (the
# start-up progress dialog). Exits non-zero when a check fails.
set -uo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: tests/gui/run.sh BUILD_DIR}" && pwd)
out=$build/gui
mkdir -p "$out"
exe=$build/src/ui/korvapp.exe
[ -f "$exe" ] || { echo "gui: $exe missing"; exit 1; }

# A prefix of its own, so the tests neither see nor disturb other runs.
export WINEPREFIX=${KV_GUI_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/korvan/wine64-gui}
. "$repo/scripts/wine-env.sh"

helper=$build/tests/gui/kvgui.exe
if [ ! -f "$helper" ]; then
  # Not part of this build tree: build it here.
  helper=$out/kvgui.exe
  if [ ! -f "$helper" ] || [ "$repo/tests/gui/kvgui.cpp" -nt "$helper" ]; then
    x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN \
      -municode -static "$repo/tests/gui/kvgui.cpp" -o "$helper" -luser32 -lshell32 ||
      { echo "gui: cannot build kvgui.exe"; exit 1; }
  fi
fi

display=
for d in $(seq 91 140); do
  if [ ! -e "/tmp/.X11-unix/X$d" ] && [ ! -e "/tmp/.X$d-lock" ]; then display=$d; break; fi
done
[ -n "$display" ] || { echo "gui: no free X display"; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"

client_pids=()
cleanup() {
  for p in "${client_pids[@]}"; do kill "$p" 2>/dev/null; done
  kv_wine_stop
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

kv_wine_start
# Window captions draw their buttons only with Wine's own fonts present.
if [ -d /usr/share/wine/fonts ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
fi

app_key='HKCU\Software\Tavrin Technologies, Inc.\Korvan'
reg() { timeout 30 wine reg "$@" >/dev/null 2>&1; }
# Every Wine program of this run joins the "shell" desktop.
reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f
reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f
timeout 170 wine explorer /desktop=shell,1024x768 </dev/null >/dev/null 2>&1 &
client_pids+=($!)
sleep 2

user=$(id -un)
data="$WINEPREFIX/drive_c/users/$user/AppData/Roaming/Korvan"
log="$data/korvapp.exe.PUL"

failures=0
pass() { echo "PASS: $1"; }
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
kv() { timeout 30 wine "$helper" "$@" </dev/null 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Fresh settings with the log on. The log never creates its folder (a data
# file written by the software-list refresh normally does), so make it here.
reset_state() {
  reg delete 'HKCU\Software\Tavrin Technologies, Inc.' /f
  reg add "$app_key\Settings" /v DisablePUL /t REG_DWORD /d 0 /f
  rm -rf "$data"
  mkdir -p "$data"
}

# start_client [ENV=VALUE...] -- ARGS: the client in the background; sets $client.
start_client() {
  local envs=()
  while [ "$1" != "--" ]; do envs+=("$1"); shift; done
  shift
  env "${envs[@]}" timeout 120 wine "$exe" "$@" </dev/null >/dev/null 2>&1 &
  client=$!
  client_pids+=("$client")
}

# wait_exit PID SECONDS: the client's exit code, or 124 when it is still running.
wait_exit() {
  local i
  for i in $(seq $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }
    sleep 0.1
  done
  return 124
}

stop_client() {
  kv shutdown >/dev/null
  wait_exit "$client" 10 >/dev/null || kill "$client" 2>/dev/null
  kv wait-gone 5000 >/dev/null
}

echo "gui: display :$display, prefix $WINEPREFIX"

# --- 1. An autorun start lives in the tray only. -----------------------------
reset_state
start_client -- -autorun
if kv wait-frame 20000 >/dev/null && kv wait-tray 5000 >/dev/null; then
  pass "-autorun start adds its tray icon"
else
  fail "-autorun start adds its tray icon"
fi
sleep 0.5
if kv wait-visible 0 0 >/dev/null; then pass "-autorun leaves the frame hidden"
else fail "-autorun leaves the frame hidden"; fi

# --- 2. A second instance hands over and ends. -------------------------------
timeout 30 wine "$exe" </dev/null >/dev/null 2>&1
second=$?
if [ "$second" -eq 0 ] && kv wait-visible 1 5000 >/dev/null && kv foreground >/dev/null &&
   kill -0 "$client" 2>/dev/null; then
  pass "a second instance brings the first window forward and ends"
else
  fail "a second instance brings the first window forward and ends (exit $second)"
fi
sleep 1
import -window root "$out/frame.png" && echo "gui: screenshot $out/frame.png"

# --- 3. The close box only hides. --------------------------------------------
kv close-box >/dev/null
if kv wait-visible 0 5000 >/dev/null && sleep 0.5 && kill -0 "$client" 2>/dev/null &&
   kv wait-tray 1000 >/dev/null; then
  pass "the close box hides the frame; the process and its tray icon stay"
else
  fail "the close box hides the frame; the process and its tray icon stay"
fi
kv tray-left >/dev/null
if kv wait-visible 1 5000 >/dev/null; then pass "a left click on the tray icon shows the frame"
else fail "a left click on the tray icon shows the frame"; fi
kv minimize >/dev/null
if kv wait-visible 0 5000 >/dev/null; then pass "minimising hides the frame"
else fail "minimising hides the frame"; fi
placement=$(kv rect | cut -d' ' -f1-4)

# --- 4. "KV - shutdown" ends the process like "Exit". ------------------------
kv shutdown >/dev/null
wait_exit "$client" 10
rc=$?
last=$(tail -n 1 "$log" 2>/dev/null | tr -d '\r')
if [ "$rc" -eq 0 ] && [[ "$last" == *") Exit (by user)." ]]; then
  pass "a broadcast of \"KV - shutdown\" ends the process; the log ends with \"Exit (by user).\""
else
  fail "\"KV - shutdown\" (exit $rc, last log line '$last')"
fi
if grep -q "Application has started (by autorun; build [0-9][0-9]*)" "$log" &&
   grep -q "Close main window (SC_CLOSE)." "$log" &&
   grep -q "Left button clicked on the tray icon." "$log" &&
   grep -q "Close main window (SC_MINIMIZE)." "$log"; then
  pass "the log holds the start, close and tray lines"
else
  fail "the log holds the start, close and tray lines"
  sed 's/^/  log: /' "$log" 2>/dev/null
fi

# --- 5. Start-up refresh: a 3 s job shows no dialog; the placement is kept. ---
start_client KORVAN_TEST_STARTUP_JOB=3000 -- -AUTORUN
result=$(kv watch-startup 20000)
rc=$?
if [ "$rc" -eq 3 ]; then pass "a 3 s start-up refresh shows no progress dialog ($result)"
else fail "a 3 s start-up refresh shows no progress dialog (rc $rc: $result)"; fi
if kv wait-visible 1 5000 >/dev/null; then pass "-AUTORUN in capitals is a user start"
else fail "-AUTORUN in capitals is a user start"; fi
now=$(kv rect | cut -d' ' -f1-4)
if [ -n "$placement" ] && [ "$now" = "$placement" ]; then
  pass "the frame reopens where it was ($now)"
else
  fail "the frame reopens where it was (stored '$placement', now '$now')"
fi
stop_client

# --- 6. A 10 s job below 80 percent shows the dialog. ------------------------
start_client KORVAN_TEST_STARTUP_JOB=10000,40 --
if kv wait-dialog 9000 >/dev/null; then
  sleep 0.7
  import -window root "$out/startup.png"
  result=$(kv watch-startup 20000)
  rc=$?
  [ "$rc" -eq 1 ] && fail "a 10 s start-up refresh ends ($result)" ||
    pass "a 10 s start-up refresh below 80 percent shows the progress dialog ($result)"
else
  fail "a 10 s start-up refresh below 80 percent shows the progress dialog"
fi
stop_client

# --- 7. ... but never for -autorun. ------------------------------------------
start_client KORVAN_TEST_STARTUP_JOB=10000,40 -- -autorun
result=$(kv watch-startup 20000)
rc=$?
if [ "$rc" -eq 3 ] && kv wait-visible 0 0 >/dev/null; then
  pass "an -autorun start never shows the progress dialog ($result)"
else
  fail "an -autorun start never shows the progress dialog (rc $rc: $result)"
fi
stop_client

# --- 8. COM AppID registration runs and ends. --------------------------------
timeout 30 wine "$exe" /RegServer </dev/null >/dev/null 2>&1
rc=$?
if [ "$rc" -eq 0 ] && reg query 'HKCR\AppID\LMR.EXE' /v AppID &&
   reg query 'HKCR\AppID\{5D7F7343-53AA-4FC1-9C0E-C3D376480D51}'; then
  pass "RegServer writes the AppID keys"
else
  fail "RegServer writes the AppID keys (exit $rc)"
fi
timeout 30 wine "$exe" -unregserver </dev/null >/dev/null 2>&1
if ! reg query 'HKCR\AppID\LMR.EXE' && reg query 'HKCR\AppID'; then
  pass "UnregServer removes them and keeps AppID"
else
  fail "UnregServer removes them and keeps AppID"
fi

echo "gui: $failures failure(s)"
[ "$failures" -eq 0 ]
