# Sourced by run.sh and demo.sh: a private Wine prefix, an Xvfb display and
# Wine's "shell" desktop (taskbar and tray), and the kvgui.exe helper.
# Needs: repo, build, out. Sets: helper, display, exe, data, log.

exe=$build/src/ui/korvapp.exe
[ -f "$exe" ] || { echo "gui: $exe missing"; exit 1; }

# A prefix of its own, so these runs neither see nor disturb other runs.
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
gui_cleanup() {
  for p in "${client_pids[@]}"; do kill "$p" 2>/dev/null; done
  kv_wine_stop
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
}
trap gui_cleanup EXIT

for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# Starts wineserver and Wine's background services with their output away
# from any pipe.
kv_wine_start
# Window captions draw their buttons only with Wine's own fonts present.
if [ -d /usr/share/wine/fonts ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
fi

reg() { timeout 30 wine reg "$@" >/dev/null 2>&1; }
# Every Wine program of this run joins the "shell" desktop.
reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f
reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f
timeout 600 wine explorer /desktop=shell,1024x768 </dev/null >/dev/null 2>&1 &
client_pids+=($!)
sleep 2

app_key='HKCU\Software\Tavrin Technologies, Inc.\Korvan'
data="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Korvan"
log="$data/korvapp.exe.PUL"

kv() { timeout 30 wine "$helper" "$@" </dev/null 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# start_client [ENV=VALUE...] -- ARGS: the client in the background; sets $client.
start_client() {
  local envs=()
  while [ "$1" != "--" ]; do envs+=("$1"); shift; done
  shift
  env "${envs[@]}" timeout 120 wine "$exe" "$@" </dev/null >/dev/null 2>&1 &
  client=$!
  client_pids+=("$client")
}
