#!/usr/bin/env bash
# The inventory benchmark's machine (1,000 uninstall entries in both HKLM
# views and HKCU, 3,000 shortcuts in nested Programs folders and on the
# desktop, 3,000 executables) set up in a private Wine prefix by kvdiag.exe
# prepare-machine, then timed with the real adapters: a full inventory (no
# shortcuts cache), an inventory from the cache, and the uninstall scan
# alone. Then the software list's refresh of the unchanged machine (a new
# process each time, as at every start) against the floor measured in the
# same run: listing the uninstall subkeys and the shortcut folders with
# their times ("kvdiag.exe refresh --floor"). Both are the milliseconds the
# program measures itself, so Wine's start-up is not counted in either. Wine and wineserver share one CPU, as section 7 of the design asks
# for figures that are compared. Prints the median of N runs (default 3).
# Usage: bench/inventory_wine.sh [N]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
runs=${1:-3}
mingw=${KV_MINGW_BUILD:-build/mingw}
kvdiag_exe=$mingw/src/tools/kvdiag/kvdiag.exe
[ -x "$kvdiag_exe" ] || { echo "missing $kvdiag_exe: cmake --build --preset mingw"; exit 2; }
work=$here/$mingw/inventory-wine
export WINEPREFIX=$work/prefix HOME=$work/home
timeout 30 wineserver -k >/dev/null 2>&1 || true
rm -rf "$work"
mkdir -p "$HOME"

python3 - "$work" <<'EOF'
import json, sys
work = sys.argv[1]
syllables = ["ka", "lo", "mi", "ra", "ven", "tor", "sil", "qua",
             "bel", "dro", "nix", "pel", "zan", "fi", "gor", "ul"]
def word(n):
    w = ""
    for _ in range(3):
        w += syllables[n % 16]; n //= 16
    return w.capitalize()
def esc(s): return s.replace("\\", "\\\\").replace('"', '\\"')
T = "2025-03-01T10:00:00Z"
exes, links, reg = [], [], ["Windows Registry Editor Version 5.00", ""]
for i in range(1000):
    vendor = word((i // 10) * 7 + 1) + " " + word((i // 10) * 13 + 5) + " Software"
    product = word(i * 31 + 3) + " " + word(i * 17 + 11)
    version = f"{1 + i % 9}.{i % 5}"
    folder = f"C:\\Program Files\\{vendor}\\{product}\\"
    exe = folder + word(i) + ".exe"
    def info(name, ver):
        return {"product": ver, "strings": [["CompanyName", vendor], ["FileDescription", name],
                                            ["ProductName", name], ["ProductVersion", ver]]}
    exes += [{"path": exe, "version": info(product, version + ".0.0")},
             {"path": folder + "help.exe", "version": info(product + " Help", version)},
             {"path": folder + "remove.exe", "content": "MZ"}]
    menu = ("{CommonPrograms}" if i % 2 else "{Programs}") + f"\\{vendor}\\{product}\\"
    links += [{"link": menu + product + ".lnk", "target": exe, "last_write": T},
              {"link": menu + product + " Help.lnk", "target": folder + "help.exe",
               "arguments": "/topic 1", "last_write": T}]
    if i % 5 == 0:
        links.append({"link": "{Desktop}\\" + product + ".lnk", "target": exe,
                      "arguments": "--desktop", "last_write": T})
    else:
        links.append({"link": menu + "Uninstall " + product + ".lnk",
                      "target": folder + "remove.exe", "arguments": "/x", "last_write": T})
    root = ("HKEY_CURRENT_USER\\Software" if i % 10 == 9 else
            "HKEY_LOCAL_MACHINE\\SOFTWARE" if i % 10 < 6 else
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node")
    reg.append(f"[{root}\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{{{100000 + i}-{word(i)}}}]")
    for k, v in [("DisplayName", product + " " + version if i % 4 == 0 else product),
                 ("DisplayVersion", version), ("Publisher", vendor),
                 ("UninstallString", '"' + folder + 'remove.exe" /x'), ("DisplayIcon", exe + ",0"),
                 ("InstallLocation", folder), ("HelpLink", "https://example.com/" + word(i)),
                 ("URLInfoAbout", "https://example.com/about"), ("InstallDate", "20250301"),
                 ("Contact", "support@example.com")]:
        reg.append(f'"{k}"="{esc(v)}"')
    reg += ['"EstimatedSize"=dword:00009c40', ""]
with open(f"{work}/machine.json", "w") as f: json.dump({"executables": exes, "shortcuts": links}, f)
with open(f"{work}/programs.reg", "w") as f: f.write("\n".join(reg) + "\n")
EOF

. scripts/wine-env.sh
trap kv_wine_stop EXIT
taskset -c 0 wineserver -p >/dev/null 2>&1 || true
timeout 120 bash -c '. scripts/wine-env.sh && kv_wine_prefix'
pin() { timeout 600 taskset -c 0 wine "$@" </dev/null; }
pin cmd.exe /c exit >/dev/null 2>&1 || true
pin "$kvdiag_exe" prepare-machine "$work/machine.json" --reg "$work/programs.reg"
cache=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Korvan/shtree.xml

# Output goes to a file: Wine's C runtime writes to /dev/null byte by byte.
seconds() {  # command...: wall time in seconds
  local t0 t1
  t0=$(date +%s.%N); "$@" >"$work/out.txt"; t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f\n", b - a}'
}
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
full=() cached=() scan=()
for _ in $(seq "$runs"); do
  rm -f "$cache" "$cache.bak"
  full+=("$(seconds pin "$kvdiag_exe" inventory --json)")
  cached+=("$(seconds pin "$kvdiag_exe" inventory --json)")
  scan+=("$(seconds pin "$kvdiag_exe" uninstall --json)")
done
f=$(printf '%s\n' "${full[@]}" | median)
c=$(printf '%s\n' "${cached[@]}" | median)
u=$(printf '%s\n' "${scan[@]}" | median)
echo "full inventory:       $f s"
echo "inventory from cache: $c s (full / cached = $(awk -v a="$f" -v b="$c" 'BEGIN {printf "%.1f", a / b}'))"
echo "uninstall scan alone: $u s"

# The list filled by a first refresh, then one more so that subkeys written
# by prepare-machine moments ago are read once more and trusted from then on.
pin "$kvdiag_exe" refresh >/dev/null
pin "$kvdiag_exe" refresh >/dev/null
ms() {  # args...: the "milliseconds" of kvdiag.exe ARGS --json
  pin "$kvdiag_exe" "$@" --json >"$work/out.txt"
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(d["milliseconds"]); sys.exit(1 if d.get("merged") else 0)' \
    "$work/out.txt" || { echo "refresh merged on an unchanged machine" >&2; exit 1; }
}
refresh=() floor=()
for _ in $(seq "$runs"); do
  refresh+=("$(ms refresh)")
  floor+=("$(ms refresh --floor)")
done
r=$(printf '%s\n' "${refresh[@]}" | median)
l=$(printf '%s\n' "${floor[@]}" | median)
echo "unchanged refresh:    $r ms"
echo "listing floor:        $l ms (refresh / floor = $(awk -v a="$r" -v b="$l" 'BEGIN {printf "%.2f", a / b}'))"
