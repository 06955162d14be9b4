#!/usr/bin/env bash
# End-to-end inventory test. The machine of tests/e2e/machine (registry
# export programs.reg, shortcuts and executables in machine.json) is
#  (a) replayed natively: kvdiag inventory --json --reg ... --machine ...
#  (b) set up for real in a fresh private Wine prefix by kvdiag.exe
#      prepare-machine, whose own kvdiag.exe inventory --json is taken,
#      twice (the second run starts from the shortcuts cache "shtree.xml");
# and both must equal expected.json. The one thing normalised is the user's
# profile folder, which is C:\Users\user on the fake machine and
# C:\users\<login> under Wine: both become C:\Users\user.
# Usage: tests/e2e/run.sh [native|wine|all]   (default all)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
what=${1:-all}
fixture=tests/e2e/machine
native_kvdiag=${KV_NATIVE_BUILD:-build/native}/src/tools/kvdiag/kvdiag
mingw=${KV_MINGW_BUILD:-build/mingw}
work=$mingw/e2e
failed=0

compare() {  # label actual.json [expected.json]
  python3 - "${3:-$fixture/expected.json}" "$2" "$1" <<'EOF'
import difflib, json, re, sys
expected_file, actual_file, label = sys.argv[1:]
profile = re.compile(r"(?i)C:\\users\\[^\\]+(?=\\|$)")
def norm(v):
    if isinstance(v, str): return profile.sub(lambda m: "C:\\Users\\user", v)
    if isinstance(v, list): return [norm(x) for x in v]
    if isinstance(v, dict): return {k: norm(x) for k, x in v.items()}
    return v
def lines(doc):
    out = []
    for part in ("programs", "ignored"):
        out.append(part + ":")
        out += ["  " + json.dumps(r, ensure_ascii=False) for r in doc.get(part, [])]
    return out
with open(expected_file, encoding="utf-8") as f: expected = norm(json.load(f))
try:
    with open(actual_file, encoding="utf-8") as f: actual = norm(json.load(f))
except ValueError as e:
    print(f"{label}: output is not JSON: {e}"); sys.exit(1)
if expected == actual:
    print(f"{label}: {len(actual['programs'])} programs and {len(actual['ignored'])} ignored, as expected")
    sys.exit(0)
print(f"{label}: differs from {expected_file}")
sys.stdout.writelines(l + "\n" for l in difflib.unified_diff(
    lines(expected), lines(actual), expected_file, label, lineterm="", n=1))
sys.exit(1)
EOF
}

need() {
  [ -x "$1" ] || { echo "missing $1: build it first (cmake --build --preset $2)"; exit 2; }
}
mkdir -p "$work"

if [ "$what" = native ] || [ "$what" = all ]; then
  echo "== native replay"
  need "$native_kvdiag" native
  "$native_kvdiag" inventory --json --reg "$fixture/programs.reg" --machine "$fixture/machine.json" \
    >"$work/native.json"
  compare native "$work/native.json" || failed=1
fi

if [ "$what" = wine ] || [ "$what" = all ]; then
  echo "== Wine prefix"
  kvdiag_exe=$mingw/src/tools/kvdiag/kvdiag.exe
  need "$kvdiag_exe" mingw
  # A private prefix and home: the prefix's Desktop is a link into $HOME.
  export WINEPREFIX=$here/$mingw/e2e-prefix
  export HOME=$here/$mingw/e2e-home
  timeout 30 wineserver -k >/dev/null 2>&1 || true  # a server left by an earlier run
  rm -rf "$WINEPREFIX" "$HOME"
  mkdir -p "$HOME"
  . scripts/wine-env.sh
  trap kv_wine_stop EXIT
  start=$SECONDS
  timeout 120 bash -c '. scripts/wine-env.sh && kv_wine_start'
  echo "prefix ready in $((SECONDS - start)) s"
  timeout 60 wine "$kvdiag_exe" prepare-machine "$fixture/machine.json" --reg "$fixture/programs.reg" \
    </dev/null
  timeout 60 wine "$kvdiag_exe" inventory --json </dev/null >"$work/wine.json"
  compare wine "$work/wine.json" || failed=1
  # A second run starts from the shortcuts cache the first one saved; it must
  # give the same records (the cache keeps a target's version strings but not
  # its fixed product version, which the inventory reads back: Zephyr
  # Browser's "12.0b3" against 12.0.0.3 shows whether it does).
  timeout 60 wine "$kvdiag_exe" inventory --json </dev/null >"$work/wine-cached.json"
  compare "wine, from the cache" "$work/wine-cached.json" || failed=1

  # The software list on the same machine: the first refresh fills it, the
  # second finds nothing to do and leaves "softList.xml" alone, and after one
  # uninstall entry changes the third reports exactly that update.
  refresh() {
    timeout 60 wine "$kvdiag_exe" refresh --json </dev/null | tr -d '\r' >"$work/refresh-$1.json"
    cat "$work/refresh-$1.json"
  }
  field() { python3 -c 'import json,sys; print(json.dumps(json.load(open(sys.argv[1]))[sys.argv[2]]))' "$work/refresh-$1.json" "$2"; }
  expect() {  # run field expected
    local got; got=$(field "$1" "$2")
    if [ "$got" = "$3" ]; then echo "refresh $1: $2 = $got"; else echo "refresh $1: $2 = $got, expected $3"; failed=1; fi
  }
  data_win=$(timeout 60 wine "$kvdiag_exe" paths </dev/null | tr -d '\r' | sed -n 's/^data folder *//p')
  softlist=$(winepath -u "${data_win}softList.xml" 2>/dev/null)
  refresh first
  expect first merged true
  expect first installed 17
  [ -f "$softlist" ] || { echo "no $softlist after the first refresh"; failed=1; }
  before=$(stat -c %Y.%s "$softlist" 2>/dev/null || echo none)
  sleep 1.1  # a rewrite within the same second would not show in the time
  refresh second
  expect second merged false
  after=$(stat -c %Y.%s "$softlist" 2>/dev/null || echo none)
  if [ "$before" = "$after" ]; then echo "refresh second: softList.xml not rewritten"
  else echo "refresh second: softList.xml was rewritten ($before -> $after)"; failed=1; fi
  timeout 60 wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Ledgerly' \
    /v DisplayVersion /d 5.1 /f </dev/null >/dev/null 2>&1
  refresh third
  expect third merged true
  expect third updated '["Ledgerly"]'
  expect third added '[]'
  expect third removed '[]'

  # The file types the list's programs open, through the real registry: per
  # user and machine-wide, verbs and the default, App Paths; other programs' not.
  timeout 60 wine "$kvdiag_exe" associations --json </dev/null | tr -d '\r' >"$work/associations.json"
  python3 - "$work/associations.json" <<'PY' || failed=1
import json, sys
got = {e["Extension"]: sorted((h["Program"], h["Verb"], h["Default"]) for h in e["Handlers"])
       for e in json.load(open(sys.argv[1]))}
want = {
    "pdf": [("Acme Reader", "open", True), ("Acme Reader", "print", False)],
    "note": [("Orbit Notes", "open", True)],
    "txt": [("Orbit Notes", "open", False)],
}
bad = [f"{ext}: {got.get(ext)} != {h}" for ext, h in want.items() if got.get(ext) != h]
if "kvx" in got:
    bad.append("kvx is opened by no program of the list")
print("associations:", "as expected" if not bad else "; ".join(bad))
sys.exit(1 if bad else 0)
PY

  # The list's icons were cached from the executables as icon files with
  # every image of their groups.
  icons=$(winepath -u "${data_win}cache\\icons" 2>/dev/null)
  python3 - "$icons" <<'PY' || failed=1
import os, struct, sys
counts = []
for name in sorted(os.listdir(sys.argv[1])):
    data = open(os.path.join(sys.argv[1], name), "rb").read()
    reserved, kind, n = struct.unpack_from("<HHH", data)
    ok = reserved == 0 and kind == 1 and n > 0 and len(data) >= 6 + 16 * n
    for i in range(n if ok else 0):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        ok = ok and offset + size <= len(data)
    if not ok:
        print(f"icon cache: {name} is no icon file")
        sys.exit(1)
    counts.append(n)
print("icon cache: image counts", counts)
sys.exit(0 if 3 in counts and 2 in counts else 1)
PY
fi

exit $failed
