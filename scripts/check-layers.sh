#!/usr/bin/env bash
# Checks that every #include "folder/..." under src/ points down the layers:
#   ui -> updates -> service -> inventory -> store -> app -> platform -> text
# (tools/ sits on top and may use any layer), and that only the Win32
# adapters, the UI and files ending in _win.cpp include the Windows headers.
# Prints each offending line and fails when there is one.
set -euo pipefail
src=$(cd "$(dirname "$0")/../src" && pwd)
declare -A rank=([text]=0 [platform]=1 [app]=2 [store]=3 [inventory]=4 [service]=5
                 [updates]=6 [ui]=7 [tools]=8)
bad=0
while IFS= read -r -d '' file; do
  rel=${file#"$src"/}
  layer=${rel%%/*}
  if [[ -z ${rank[$layer]+x} ]]; then
    echo "$rel: folder '$layer' is not in the layer list" >&2
    bad=1
    continue
  fi
  n=0
  while IFS= read -r line; do
    n=$((n + 1))
    if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([a-z_0-9]+)/ ]]; then
      used=${BASH_REMATCH[1]}
      if [[ -z ${rank[$used]+x} ]]; then
        echo "$rel:$n: includes from unknown folder '$used': $line" >&2
        bad=1
      elif ((rank[$used] > rank[$layer])); then
        echo "$rel:$n: $layer may not include $used (layers point down): $line" >&2
        bad=1
      fi
    elif [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(windows|winreg|shlobj|shellapi|objbase|wininet|winbase)\.h\> ]]; then
      case $rel in
        platform/win32/* | ui/* | *_win.cpp) ;;
        *)
          echo "$rel:$n: only platform/win32, ui and *_win.cpp files include Windows headers: $line" >&2
          bad=1
          ;;
      esac
    fi
  done <"$file"
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
if ((bad)); then
  echo "layering check failed" >&2
  exit 1
fi
echo "layering check passed"
