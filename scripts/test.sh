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

step "Windows tests under Wine"
. scripts/wine-env.sh
trap kv_wine_stop EXIT
kv_wine_start
ctest --preset mingw

kv_wine_stop

step "end-to-end inventory: native replay and a prepared Wine prefix"
bash tests/e2e/run.sh all
bash tests/integration/uninstall_prefix.sh

step "GUI tests under Wine and Xvfb"
bash tests/gui/run.sh "$here/build/mingw"

step "all tests passed"
