#!/usr/bin/env bash
# Runs one Windows program under Wine: the CMake cross-compiling emulator.
. "$(dirname "$0")/wine-env.sh"
kv_wine_prefix
exec wine "$@"
