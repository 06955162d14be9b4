#!/usr/bin/env bash
# The site's pages in a real browser. korvan-service on loopback learns the
# replayed machine of tests/e2e/machine through a native check, one of its
# programs gets a newer catalogue version and the account comments on it
# with markup in the text. Headless Chromium then opens the user's page,
# signed in by its query, and follows that page's link to the program's page
# on its own host name. Screenshots go to BUILD_DIR/site/*.png; the test
# fails on an HTTP error, a missing screenshot, or a page whose DOM lacks
# what the database holds or runs the comment's script.
# Usage: tests/site/browser_test.sh BUILD_DIR   (the native build)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: browser_test.sh BUILD_DIR}" && pwd)
cd "$here"
service_bin=$build/server/korvan-service
kvdiag=$build/src/tools/kvdiag/kvdiag
fixture=tests/e2e/machine
out=$build/site
program="Orbit Notes"
comment='Works well. <script>document.title="injected"</script> & more'
for tool in "$service_bin" "$kvdiag"; do
  [ -x "$tool" ] || { echo "browser test: missing $tool (build the native preset first)" >&2; exit 2; }
done
command -v chromium >/dev/null || { echo "browser test: no chromium (run scripts/setup.sh)" >&2; exit 2; }
# Loopback must not go through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

work=$(mktemp -d /tmp/korvan-site.XXXXXX)
service_pid=
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "browser test: $*" >&2
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 30 "$log" >&2; }
  done
  exit 1
}

# Port 0: the service names the port it got in its log and in its pages.
"$service_bin" serve --db "$work/korvan.db" --listen 127.0.0.1:0 --catalogue "" >"$work/service.log" 2>&1 &
service_pid=$!
port_of_log() { sed -n 's|^korvan-service: serving http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/service.log"; }
deadline=$((SECONDS + 10))
until port=$(port_of_log) && [ -n "$port" ]; do
  { kill -0 "$service_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; } || fail "korvan-service did not start"
  sleep 0.1
done
site=http://localhost:$port

# A guest account with the machine's programs, one of them out of date.
check() {
  "$kvdiag" check --json --site "$site" --data "$work/data" --reg "$fixture/programs.reg" \
    --machine "$fixture/machine.json" >"$work/check-$1.log" 2>&1 || fail "kvdiag check $1 failed"
}
check first
"$service_bin" catalogue set "$program" --stable 99.0 --db "$work/korvan.db" >/dev/null
check second
read -r user_id password < <(python3 - "$work/data/login.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
user = ET.parse(sys.argv[1]).getroot()
user = user if user.tag == "User" else user.find(".//User")
print(user.findtext("Id", ""), user.findtext("Password", ""))
PY
) || fail "cannot read the account from login.xml"
[ -n "$password" ] || fail "no account in login.xml"
program_id=$("$service_bin" catalogue list "$program" --db "$work/korvan.db" | awk -F'\t' -v n="$program" '$2 == n { print $1 }')
[ -n "$program_id" ] || fail "the service does not know $program"
guid=$("$kvdiag" account --json --data "$work/data" | python3 -c 'import json, sys; print(json.load(sys.stdin)["machine"])')
# Posted as the client does: a blank is "%20", since "+" means a plus sign.
python3 - "$site" "$comment" "$program_id" "$user_id" "$guid" "$password" <<'PY' || fail "add_comment was refused"
import io, sys, urllib.parse, urllib.request, zipfile, xml.etree.ElementTree as ET
site, comment, program, user, guid, password = sys.argv[1:]
fields = [("client_build", "1"), ("id", user), ("GUID", guid), ("email", user),
          ("password", password), ("Id", program), ("Comment", comment)]
body = "&".join(n + "=" + urllib.parse.quote(v, safe="") for n, v in fields).encode()
with urllib.request.urlopen(site + "/kv.php?mode=add_comment", body, timeout=10) as r:
    answer = r.read()
# The answer is a zip archive holding one XML document.
with zipfile.ZipFile(io.BytesIO(answer)) as z:
    result = ET.fromstring(z.read(z.namelist()[0])).find(".//Result")
code = None if result is None else result.get("Code", result.findtext("Code"))
print("add_comment:", code)
sys.exit(0 if code == "OK" else 1)
PY

status() {  # URL [HOST]
  curl -s --noproxy '*' -o /dev/null -w '%{http_code}' ${2:+-H "Host: $2"} "$1"
}
# browse NAME URL: a screenshot in $out/NAME.png and its DOM in $out/NAME.html
browse() {
  local name=$1 url=$2 flags
  flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --no-proxy-server
         --disable-background-networking --disable-component-update --disable-sync
         "--window-size=1200,900")
  rm -f "$out/$name.png"
  timeout 60 chromium "${flags[@]}" --user-data-dir="$work/profile-$name-shot" \
    --screenshot="$out/$name.png" "$url" >>"$work/chromium.log" 2>&1 ||
    fail "chromium could not take $url"
  [ -s "$out/$name.png" ] || fail "no screenshot of $url"
  timeout 60 chromium "${flags[@]}" --user-data-dir="$work/profile-$name-dom" \
    --dump-dom "$url" >"$out/$name.html" 2>>"$work/chromium.log" || fail "chromium could not read $url"
}
# expect NAME LABEL PYEXPR: PYEXPR over the page's DOM text `dom` must hold
expect() {
  python3 - "$out/$1.html" "$3" <<'PY' || fail "$1: $2"
import sys
dom = open(sys.argv[1], encoding="utf-8").read()
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
}
mkdir -p "$out"

user_url="$site/user/$user_id/?login=$user_id&pwd=$password"
code=$(status "$user_url")
[ "$code" = 200 ] || fail "the user's page answered $code"
browse user_page "$user_url"
expect user_page "not signed in" '"Not signed in" not in dom and "<h2>Programs</h2>" in dom'
expect user_page "not the machine's 17 programs with $program out of date" \
  '(dom.count("<tr>") == 18 and "1 of 17 out of date." in dom and "update available</span>" in dom
    and "'"$program"'</a></td><td>2.4.1</td><td>99.0</td>" in dom)'
# The comment as text, and no script of it run (it would rename the page).
expect user_page "the comment is not shown as text" \
  '("Works well. &lt;script&gt;document.title=\"injected\"&lt;/script&gt; &amp; more" in dom
    and "<script" not in dom and "injected" not in dom.split("</title>")[0])'

# The program's page on its own host, by the link the user's page gives.
program_url=$(python3 - "$out/user_page.html" "$program" <<'PY'
import re, sys
dom, name = open(sys.argv[1], encoding="utf-8").read(), sys.argv[2]
m = re.search(r'<a href="(http://[^"]+\.localhost:\d+/)">' + re.escape(name) + "</a>", dom)
print(m.group(1) if m else "")
PY
)
[ -n "$program_url" ] || fail "the user's page has no link to $program's page"
host=${program_url#http://}
host=${host%/}
code=$(status "http://127.0.0.1:$port/" "$host")
[ "$code" = 200 ] || fail "$program's page ($host) answered $code"
browse program_page "$program_url"
expect program_page "no heading with the program's name" '"<h1>'"$program"'</h1>" in dom'
expect program_page "no latest stable version" '"<th>Latest stable</th><td>99.0</td>" in dom'
expect program_page "no escaped comment" '"&lt;script&gt;" in dom and "<script" not in dom'
echo "browser test: the user's page and $host as expected; screenshots in $out"
