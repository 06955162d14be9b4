# Sourced: the Wine environment of builds, tests and demos. The prefix lives
# outside the tree and is created on first use.
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/korvan/wine64}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

kv_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # Window captions draw their buttons only with these fonts present.
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
}

# Keeps one wineserver up for a whole test run instead of one per process.
# The first program of a session starts Wine's background services; they
# inherit that program's output, so start them here with output to
# /dev/null, or a test runner reading a test's pipe would wait for them.
kv_wine_start() {
  kv_wine_prefix
  wineserver -p >/dev/null 2>&1 || true
  timeout 60 wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}
kv_wine_stop() { wineserver -k >/dev/null 2>&1 || true; }
