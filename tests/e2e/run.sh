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
# Then a check for updates against korvan-service on loopback, natively over
# the replay and under Wine in the prepared prefix: the first check teaches
# the service the programs, a newer catalogue version marks exactly that
# program, an uninstalled program is reported and no longer counted; under
# Wine also a service that wants a newer client and one that is down.
# Usage: tests/e2e/run.sh [native|wine|all]   (default all)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
what=${1:-all}
fixture=tests/e2e/machine
native_kvdiag=${KV_NATIVE_BUILD:-build/native}/src/tools/kvdiag/kvdiag
service_bin=${KV_NATIVE_BUILD:-build/native}/server/korvan-service
mingw=${KV_MINGW_BUILD:-build/mingw}
work=$mingw/e2e
failed=0
# Loopback must not go through a proxy (libcurl, and WinINet under Wine).
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

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

# korvan-service on a free loopback port: start_service DB [serve options...]
# sets $site; stop_services ends every one started.
service_pids=()
start_service() {
  local db=$1 log=$1.$((${#service_pids[@]} + 1)).log
  shift
  "$service_bin" serve --db "$db" --listen 127.0.0.1:0 "$@" >"$log" 2>&1 &
  service_pids+=($!)
  site=
  for _ in $(seq 100); do
    site=$(sed -n 's|^korvan-service: serving \(https\{0,1\}://[^/]*\)/.*|\1|p' "$log")
    [ -n "$site" ] && return 0
    kill -0 "${service_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "korvan-service did not start:"; cat "$log"
  exit 1
}
stop_services() {
  for p in "${service_pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  service_pids=()
}
trap stop_services EXIT

# check_expect LABEL FILE PYEXPR EXPECTED: PYEXPR over the JSON document `d`
# of FILE, as JSON, must be EXPECTED.
check_expect() {
  local got
  got=$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(json.dumps(eval(sys.argv[2])))' \
    "$2" "$3" 2>&1) || got="(unreadable: $got)"
  if [ "$got" = "$4" ]; then echo "$1: $3 = $got"
  else echo "$1: $3 = $got, expected $4"; failed=1; fi
}
# Names of the newer-version list, and of the programs of a softlist whose
# State has the new-version bit.
newer='sorted(p["name"] for p in d["newer"])'
marked='sorted(p["Name"] for p in d["installed"] if p["State"] & 8)'
# How many installs of PROGRAM the service counts for machine GUID: installs DB GUID PROGRAM
installs() {
  python3 - "$@" <<'PY'
import sqlite3, sys
db, guid, name = sys.argv[1:]
c = sqlite3.connect(db)
print(c.execute("SELECT COUNT(*) FROM installs i JOIN machines m ON m.id = i.machine_id "
                "JOIN programs p ON p.id = i.program_id WHERE m.guid = ? AND p.name = ?",
                (guid, name)).fetchone()[0])
PY
}
expect_installs() {  # label db guid program count
  local n; n=$(installs "$2" "$3" "$4")
  if [ "$n" = "$5" ]; then echo "$1: the service counts $4 $n time(s)"
  else echo "$1: the service counts $4 $n time(s), expected $5"; failed=1; fi
}

if [ "$what" = native ] || [ "$what" = all ]; then
  echo "== native replay"
  need "$native_kvdiag" native
  "$native_kvdiag" inventory --json --reg "$fixture/programs.reg" --machine "$fixture/machine.json" \
    >"$work/native.json"
  compare native "$work/native.json" || failed=1

  echo "== native check against korvan-service"
  need "$service_bin" native
  rm -rf "$work/native-check" && mkdir -p "$work/native-check"
  nc=$work/native-check
  start_service "$nc/korvan.db"
  # The uninstall: the same machine without Kestrel FTP's entry, files and shortcuts.
  python3 - "$fixture" "$nc" <<'PY'
import json, sys
fixture, out = sys.argv[1:]
lines, skip = [], False
for line in open(f"{fixture}/programs.reg", encoding="utf-8").read().splitlines(keepends=True):
    if line.startswith("["): skip = line.rstrip().endswith("\\Uninstall\\Kestrel FTP]")
    if not skip: lines.append(line)
open(f"{out}/programs-after.reg", "w", encoding="utf-8").write("".join(lines))
m = json.load(open(f"{fixture}/machine.json"))
for part in ("executables", "shortcuts"):
    m[part] = [e for e in m[part] if "Kestrel FTP" not in json.dumps(e)]
json.dump(m, open(f"{out}/machine-after.json", "w"))
PY
  native_check() {  # name reg machine
    "$native_kvdiag" check --json --site "$site" --data "$nc/data" --reg "$2" --machine "$3" \
      >"$nc/$1.json" || { echo "native check $1 failed:"; cat "$nc/$1.json"; failed=1; }
  }
  native_check first "$fixture/programs.reg" "$fixture/machine.json"
  check_expect "native check first" "$nc/first.json" "$newer" '[]'
  guid=$("$native_kvdiag" account --json --data "$nc/data" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["machine"])')
  expect_installs "native check first" "$nc/korvan.db" "$guid" "Kestrel FTP" 1
  "$service_bin" catalogue set "Orbit Notes" --stable 2.5 --db "$nc/korvan.db" >/dev/null
  native_check second "$fixture/programs.reg" "$fixture/machine.json"
  check_expect "native check second" "$nc/second.json" "$newer" '["Orbit Notes"]'
  check_expect "native check second" "$nc/second.json" 'd["has_new_versions"]' true
  "$native_kvdiag" softlist --json --data "$nc/data" >"$nc/softlist.json"
  check_expect "native softlist" "$nc/softlist.json" "$marked" '["Orbit Notes"]'
  native_check third "$nc/programs-after.reg" "$nc/machine-after.json"
  check_expect "native check third" "$nc/third.json" 'd["refresh"]["removed"]' '["Kestrel FTP"]'
  expect_installs "native check third" "$nc/korvan.db" "$guid" "Kestrel FTP" 0
  expect_installs "native check third" "$nc/korvan.db" "$guid" "Orbit Notes" 1
  stop_services

  # Over HTTPS with a certificate of an authority made here: trusted with
  # that authority (--ca), refused without it.
  tls=$nc/tls && mkdir -p "$tls"
  ec=(-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes)
  openssl req -x509 "${ec[@]}" -days 1 -subj "/CN=Korvan e2e authority" -keyout "$tls/ca.key" \
    -out "$tls/ca.pem" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" 2>/dev/null
  openssl req "${ec[@]}" -subj "/CN=127.0.0.1" -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >"$tls/ext"
  openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial \
    -days 1 -extfile "$tls/ext" -out "$tls/server.pem" 2>/dev/null
  start_service "$tls/korvan.db" --tls-cert "$tls/server.pem" --tls-key "$tls/server.key"
  if "$native_kvdiag" check --json --site "$site" --ca "$tls/ca.pem" --data "$tls/data" \
      --reg "$fixture/programs.reg" --machine "$fixture/machine.json" >"$tls/trusted.json"; then
    echo "native check over $site: trusted with its authority"
  else
    echo "native check over $site failed:"; cat "$tls/trusted.json"; failed=1
  fi
  if "$native_kvdiag" check --json --site "$site" --data "$tls/data-untrusting" \
      --reg "$fixture/programs.reg" --machine "$fixture/machine.json" >"$tls/untrusted.json"; then
    echo "native check over $site without its authority succeeded"; failed=1
  else
    check_expect "native check over $site without its authority" "$tls/untrusted.json" \
      '"certificate not trusted" in d.get("reason", "")' true
  fi
  stop_services
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
  trap 'stop_services; kv_wine_stop' EXIT
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

  echo "== check under Wine against korvan-service"
  need "$service_bin" native
  wc=$work/wine-check
  rm -rf "$wc" && mkdir -p "$wc"
  start_service "$wc/korvan.db"
  wine_check() {  # name [options]: the JSON answer in $wc/name.json, or its text in name.txt
    local name=$1 rc=0
    shift
    timeout 60 wine "$kvdiag_exe" check --site "$site" "$@" </dev/null | tr -d '\r' >"$wc/$name" ||
      rc=$?
    return $rc
  }
  wine_check first.json --json || { echo "wine check first failed:"; cat "$wc/first.json"; failed=1; }
  check_expect "wine check first" "$wc/first.json" "$newer" '[]'
  guid=$(timeout 60 wine "$kvdiag_exe" account --json </dev/null |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["machine"])')
  expect_installs "wine check first" "$wc/korvan.db" "$guid" "Kestrel FTP" 1
  "$service_bin" catalogue set "Orbit Notes" --stable 2.5 --db "$wc/korvan.db" >/dev/null
  wine_check second.json --json || { echo "wine check second failed"; failed=1; }
  check_expect "wine check second" "$wc/second.json" "$newer" '["Orbit Notes"]'
  check_expect "wine check second" "$wc/second.json" 'd["has_new_versions"]' true
  timeout 60 wine "$kvdiag_exe" softlist --json </dev/null | tr -d '\r' >"$wc/softlist.json"
  check_expect "wine softlist" "$wc/softlist.json" "$marked" '["Orbit Notes"]'

  # Kestrel FTP uninstalled: its entry, its folder and its shortcuts gone.
  timeout 60 wine reg delete \
    'HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Kestrel FTP' /f \
    </dev/null >/dev/null 2>&1 || { echo "cannot delete Kestrel FTP's uninstall entry"; failed=1; }
  for folder in 'C:\Program Files (x86)\Kestrel FTP' \
                'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Kestrel FTP'; do
    rm -rf "$(winepath -u "$folder" 2>/dev/null)"
  done
  wine_check third.json --json || { echo "wine check third failed"; failed=1; }
  check_expect "wine check third" "$wc/third.json" 'd["refresh"]["removed"]' '["Kestrel FTP"]'
  expect_installs "wine check third" "$wc/korvan.db" "$guid" "Kestrel FTP" 0
  expect_installs "wine check third" "$wc/korvan.db" "$guid" "Orbit Notes" 1

  # A service that wants a newer client build says where to get it.
  build=$(sed -n 's/^set(KV_VERSION_BUILD \([0-9]*\))/\1/p' CMakeLists.txt)
  start_service "$wc/korvan.db" --min-build $((build + 1)) \
    --update-url http://127.0.0.1/korvan-setup.exe --installer-params /S
  if wine_check old-client.txt; then echo "wine check old client: succeeded"; failed=1; fi
  if grep -q '^update address *http://127.0.0.1/korvan-setup.exe$' "$wc/old-client.txt" &&
     grep -q '^installer parameters */S$' "$wc/old-client.txt"; then
    echo "wine check old client: $(head -1 "$wc/old-client.txt"), update address given"
  else
    echo "wine check old client: no update address in:"; cat "$wc/old-client.txt"; failed=1
  fi

  # A service that is down: the network failure, and the list left as it was.
  stop_services
  cp "$softlist" "$wc/softList.before"
  if wine_check down.txt; then echo "wine check down: succeeded"; failed=1; fi
  if grep -q 'Unknown network error' "$wc/down.txt"; then echo "wine check down: $(cat "$wc/down.txt")"
  else echo "wine check down: no network failure in:"; cat "$wc/down.txt"; failed=1; fi
  if cmp -s "$softlist" "$wc/softList.before"; then echo "wine check down: softList.xml unchanged"
  else echo "wine check down: softList.xml changed"; failed=1; fi
fi

exit $failed
