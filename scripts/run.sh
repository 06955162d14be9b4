#!/usr/bin/env bash
# The main job: set up, build the Windows client, show under Wine what it
# would use on this machine (its settings and folders), then start the tray
# client under Wine on a private Xvfb display and take a screenshot of it.
#   bash scripts/run.sh [SECONDS]   keeps the client up for SECONDS to look at
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/setup.sh >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)" --target korvapp kvdiag kvgui >/dev/null
(
  . scripts/wine-env.sh
  trap kv_wine_stop EXIT
  kv_wine_start
  wine build/mingw/src/tools/kvdiag/kvdiag.exe settings
  echo
  wine build/mingw/src/tools/kvdiag/kvdiag.exe paths
)
echo
bash tests/gui/demo.sh build/mingw "${1:-0}"
