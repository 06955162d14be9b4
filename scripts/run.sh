#!/usr/bin/env bash
# The main job: set up, build the Windows client and show, under Wine, what
# it would use on this machine: its settings and its folders.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/setup.sh >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)" --target kvdiag >/dev/null
. scripts/wine-env.sh
trap kv_wine_stop EXIT
kv_wine_start
wine build/mingw/src/tools/kvdiag/kvdiag.exe settings
echo
wine build/mingw/src/tools/kvdiag/kvdiag.exe paths
