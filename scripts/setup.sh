#!/usr/bin/env bash
# Installs what building and testing Korvan needs and fetches the sources the
# mingw build compiles itself. Idempotent; fast when everything is present.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
deps="$here/third_party"          # ignored by git
priv="$deps/.apt"                 # private apt state for deb-src lookups

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  zlib1g-dev libminizip-dev libpugixml-dev libcurl4-openssl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev libssl-dev libsqlite3-dev libsodium-dev libpq-dev postgresql-15
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine wine64 fonts-wine xvfb imagemagick xauth dpkg-dev chromium
)

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Source packages for the mingw build, from a deb-src list derived from the
# machine's own apt sources; the machine's apt configuration is left alone.
fetch_source() {   # fetch_source PACKAGE DESTDIR
  local pkg=$1 dest=$2
  [ -d "$dest" ] && return 0
  mkdir -p "$priv/sources.d" "$priv/lists/partial" "$deps/src"
  if [ ! -s "$priv/sources.d/src.sources" ]; then
    local found=0
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$priv/sources.d/src.sources"
      printf '\n' >>"$priv/sources.d/src.sources"; found=1
    done
    if [ $found -eq 0 ] && [ -f /etc/apt/sources.list ]; then
      grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"$priv/sources.d/src.list"
    fi
  fi
  local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$priv/sources.d"
              -o "Dir::State::Lists=$priv/lists")
  if [ ! -f "$priv/updated" ]; then
    apt-get "${opts[@]}" update -qq >/dev/null && touch "$priv/updated"
  fi
  local versions
  versions=$(apt-cache "${opts[@]}" showsrc "$pkg" | awk '/^Version:/ {print $2}' | sort -rV | uniq)
  local work="$deps/src/$pkg.work"
  rm -rf "$work"; mkdir -p "$work"
  for v in $versions; do
    if (cd "$work" && apt-get "${opts[@]}" source -qq --download-only "$pkg=$v" >/dev/null 2>&1); then
      (cd "$work" && dpkg-source -x --no-check ./*.dsc src >/dev/null)
      mv "$work/src" "$dest"; rm -rf "$work"
      echo "setup: fetched $pkg $v"
      return 0
    fi
    rm -f "$work"/*
  done
  echo "setup: could not fetch the source package $pkg" >&2
  return 1
}

fetch_source zlib "$deps/zlib"
fetch_source pugixml "$deps/pugixml"
echo "setup: ready"
