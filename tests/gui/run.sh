#!/usr/bin/env bash
# GUI tests of korvapp.exe under Wine on a private Xvfb display, inside
# `wine explorer /desktop=shell` (a desktop with a taskbar and a tray).
# The client is driven by window messages through kvgui.exe.
#   tests/gui/run.sh BUILD_DIR      (the mingw build folder, e.g. build/mingw)
# Leaves screenshots in BUILD_DIR/gui: frame.png (the shown frame),
# about.png, tray-menu.png and startup.png (the start-up progress dialog),
# and activity-log.txt (the client's log of the first runs).
# Exits non-zero when a check fails.
set -uo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: tests/gui/run.sh BUILD_DIR}" && pwd)
out=$build/gui
mkdir -p "$out"
rm -f "$out"/*.png
. "$repo/tests/gui/lib.sh"

failures=0
check() {  # check NAME COMMAND...: PASS when the command succeeds
  local name=$1
  shift
  if "$@"; then echo "PASS: $name"; return 0; fi
  echo "FAIL: $name"
  failures=$((failures + 1))
  return 1
}

# Fresh settings with the log on. The log never creates its folder (the
# software-list refresh's first data file normally does), so make it here.
reset_state() {
  reg delete 'HKCU\Software\Tavrin Technologies, Inc.' /f
  reg add "$app_key\\Settings" /v DisablePUL /t REG_DWORD /d 0 /f
  rm -rf "$data"
  mkdir -p "$data"
}

# wait_exit PID SECONDS: the client's exit code, or 124 when it still runs.
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

running() { kill -0 "$client" 2>/dev/null; }
in_log() { grep -qF -- "$1" "$log"; }
build_number=$(sed -n 's/^#define KV_VERSION_BUILD \([0-9]*\).*/\1/p' "$build/src/ui/version.h")
version=$(sed -n 's/^#define KV_VERSION_TEXT "\([0-9]*\.[0-9]*\).*/\1/p' "$build/src/ui/version.h")
echo "gui: display :$display, prefix $WINEPREFIX, build $build_number"

# --- An autorun start lives in the tray only. --------------------------------
reset_state
start_client -- -autorun
check "-autorun start adds its tray icon" \
  eval 'kv wait-frame 20000 >/dev/null && kv wait-tray 5000 >/dev/null'
sleep 0.5
check "-autorun leaves the frame hidden" eval 'kv wait-visible 0 0 >/dev/null'

# --- A second instance hands over and ends. ----------------------------------
second_instance() {
  timeout 30 wine "$exe" </dev/null >/dev/null 2>&1 &&
    kv wait-visible 1 5000 >/dev/null && kv foreground >/dev/null && running
}
check "a second instance brings the first window forward and ends" second_instance
sleep 1
import -window root "$out/frame.png"
check "a screenshot of the shown frame: $out/frame.png" eval '[ -s "$out/frame.png" ]'

# --- About and the tray menu. ------------------------------------------------
about_text=$(kv about 5000)
sleep 0.5
import -window root "$out/about.png"
check "the about box reads \"Version $version build $build_number\" ($about_text)" \
  eval '[ "$about_text" = "Version $version build $build_number" ] && kv close-about'

kv tray-right-twice >/dev/null
check "right-clicking the tray icon twice opens one menu" eval 'kv menus 5000 >/dev/null'
import -window root "$out/tray-menu.png"
kv cancel-menu >/dev/null
check "the tray menu closes again" eval '! kv menus 1000 >/dev/null'

# --- The tray icon comes back after the shell loses it. ---------------------
kv tray-delete >/dev/null
tray_back() {
  ! kv wait-tray 0 >/dev/null && kv taskbar-created >/dev/null && kv wait-tray 5000 >/dev/null
}
check "after \"TaskbarCreated\" the lost tray icon comes back" tray_back

# --- Closing and minimising only hide. ---------------------------------------
kv close-box >/dev/null
check "the close box hides the frame; the process and its tray icon stay" \
  eval 'kv wait-visible 0 5000 >/dev/null && sleep 0.5 && running && kv wait-tray 1000 >/dev/null'
kv tray-left >/dev/null
check "a left click on the tray icon shows the frame" eval 'kv wait-visible 1 5000 >/dev/null'
kv tray-left >/dev/null
check "a second left click hides it" eval 'kv wait-visible 0 5000 >/dev/null'
kv tray-left >/dev/null
kv wait-visible 1 5000 >/dev/null
kv minimize >/dev/null
check "minimising hides the frame" eval 'kv wait-visible 0 5000 >/dev/null'
placement=$(kv rect | cut -d' ' -f1-4)

# --- "KV - shutdown" ends the process like "Exit". ---------------------------
kv shutdown >/dev/null
wait_exit "$client" 10
rc=$?
last=$(tail -n 1 "$log" 2>/dev/null | tr -d '\r')
check "a broadcast of \"KV - shutdown\" ends the process; the log ends with \"Exit (by user).\"" \
  eval '[ "$rc" -eq 0 ] && [[ "$last" == *") Exit (by user)." ]]'
log_lines() {
  in_log "Application has started (by autorun; build $build_number)" &&
    in_log "Application has started (by user; build $build_number)" &&
    in_log "Show about info." && in_log "Right button clicked on the tray icon." &&
    in_log "Close main window (SC_CLOSE)." && in_log "Left button clicked on the tray icon." &&
    in_log "Show main window." && in_log "Close main window (SC_MINIMIZE)." &&
    [ "$(grep -c -- '^([0-9.]*, [0-9:]*) --------------------------------------------------------' "$log")" -eq 2 ]
}
check "the log holds the start, about, tray and close lines" log_lines ||
  sed 's/^/  log: /' "$log" 2>/dev/null
cp "$log" "$out/activity-log.txt" 2>/dev/null

# --- Start-up refresh: a 3 s job shows no dialog; the placement is kept. -----
start_client KORVAN_TEST_STARTUP_JOB=3000 -- -AUTORUN
result=$(kv watch-startup 20000)
rc=$?
check "a 3 s start-up refresh shows no progress dialog ($result)" eval '[ "$rc" -eq 3 ]'
check "-AUTORUN in capitals is a user start" eval 'kv wait-visible 1 5000 >/dev/null'
now=$(kv rect | cut -d' ' -f1-4)
check "the frame reopens where it was (stored '$placement', now '$now')" \
  eval '[ -n "$placement" ] && [ "$now" = "$placement" ]'

# --- The uninstaller's start opens the page and ends, even now. --------------
cp "$helper" "$WINEPREFIX/drive_c/kvgui.exe"
rm -f "$WINEPREFIX/drive_c/kvgui-url.txt"
reg add 'HKCR\http\shell\open\command' /ve /d '"C:\kvgui.exe" "%1"' /f
uninstalled_page() {
  timeout 30 wine "$exe" /OpenAfterUninstPage </dev/null >/dev/null 2>&1 || return 1
  local i
  for i in $(seq 50); do [ -s "$WINEPREFIX/drive_c/kvgui-url.txt" ] && break; sleep 0.1; done
  local url
  url=$(tr -d '\r' <"$WINEPREFIX/drive_c/kvgui-url.txt" 2>/dev/null)
  echo "  opened: $url"
  [ "$url" = "http://localhost:8080/uninstalled.php?userid=&build=$build_number" ] &&
    in_log "{openafteruninstpage} has been requested." && in_log "Uninstalled." && running
}
check "/OpenAfterUninstPage opens the uninstalled page and ends while another instance runs" \
  uninstalled_page
bug_report() {
  rm -f "$WINEPREFIX/drive_c/kvgui-url.txt"
  # Commands of later parts first: they must do nothing visible yet.
  kv command 32773 && kv command 32781 && kv command 1019 && kv command 1002 || return 1
  local i
  for i in $(seq 50); do [ -s "$WINEPREFIX/drive_c/kvgui-url.txt" ] && break; sleep 0.1; done
  local url
  url=$(tr -d '\r' <"$WINEPREFIX/drive_c/kvgui-url.txt" 2>/dev/null)
  echo "  opened: $url"
  [ "$url" = "http://localhost:8080/bug_report.php?type=client" ] &&
    ! kv wait-dialog 0 >/dev/null && running
}
check "\"Report a bug\" opens the bug-report page" bug_report
stop_client

# --- A 10 s job below 80 percent shows the dialog. ---------------------------
start_client KORVAN_TEST_STARTUP_JOB=10000,40 --
slow_start() {
  kv wait-dialog 15000 >/dev/null || { echo "  no dialog"; return 1; }
  sleep 0.7
  import -window root "$out/startup.png"
  # A second instance now finds the mutex but no frame: it ends quietly.
  timeout 30 wine "$exe" </dev/null >/dev/null 2>&1 || { echo "  second instance failed"; return 1; }
  ! kv wait-frame 0 >/dev/null || { echo "  frame too early"; return 1; }
  result=$(kv watch-startup 20000)
  local rc=$?
  echo "  $result"
  [ "$rc" -eq 0 ]
}
check "a 10 s start-up refresh below 80 percent shows the progress dialog" slow_start
stop_client

# --- ... but never for -autorun. ---------------------------------------------
start_client KORVAN_TEST_STARTUP_JOB=10000,40 -- -autorun
result=$(kv watch-startup 20000)
rc=$?
check "an -autorun start never shows the progress dialog ($result)" \
  eval '[ "$rc" -eq 3 ] && kv wait-visible 0 0 >/dev/null'
stop_client

# --- COM AppID registration runs and ends; with the log off by default. -----
reg delete "$app_key\\Settings" /v DisablePUL /f
rm -f "$log"
registration() {
  timeout 30 wine "$exe" /RegServer </dev/null >/dev/null 2>&1 &&
    reg query 'HKCR\AppID\LMR.EXE' /v AppID &&
    reg query 'HKCR\AppID\{5D7F7343-53AA-4FC1-9C0E-C3D376480D51}' &&
    ! kv wait-frame 0 >/dev/null
}
check "RegServer writes the AppID keys and ends" registration
unregistration() {
  timeout 30 wine "$exe" -unregserver </dev/null >/dev/null 2>&1 &&
    ! reg query 'HKCR\AppID\LMR.EXE' && reg query 'HKCR\AppID'
}
check "UnregServer removes them and keeps AppID" unregistration
check "without DisablePUL nothing is logged" eval '[ ! -e "$log" ]'

echo "gui: $failures failure(s)"
[ "$failures" -eq 0 ]
