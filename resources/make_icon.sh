#!/usr/bin/env bash
# Regenerates korvapp.ico (16, 32 and 48 pixels) with ImageMagick: a blue
# rounded square with a white "K" drawn from lines, so no font is needed.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none -fill '#1f6fd1' -draw 'roundrectangle 8,8 247,247 48,48' \
  -stroke white -strokewidth 34 -fill none \
  -draw 'line 84,56 84,200' -draw 'line 96,132 186,52' -draw 'line 118,112 190,204' "$tmp/big.png"
for s in 16 32 48; do convert "$tmp/big.png" -resize ${s}x${s} "$tmp/$s.png"; done
convert "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" korvapp.ico
