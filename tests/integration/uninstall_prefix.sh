#!/usr/bin/env bash
# Prepares a Wine prefix with a handful of realistic uninstall entries (HKLM's
# 64-bit and 32-bit views and HKCU, imported by regedit from a UTF-16LE
# export), lists them with kvdiag.exe under Wine, and compares that with the
# native kvdiag replaying the same export. Exit code 0 when both agree and
# the expected programs are listed in the expected order.
#   usage: tests/integration/uninstall_prefix.sh [BUILD_MINGW [BUILD_NATIVE]]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
mingw=${1:-$here/build/mingw}
native=${2:-$here/build/native}
# A prefix of its own, so that the shared test prefix keeps its registry.
export WINEPREFIX=${KV_UNINSTALL_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/korvan/wine64-uninstall}
. "$here/scripts/wine-env.sh"
work=$(mktemp -d)
user=$(id -un)  # Wine names the profile folder after the Unix user
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

u='Microsoft\\Windows\\CurrentVersion\\Uninstall'
hklm="HKEY_LOCAL_MACHINE\\SOFTWARE\\$u"
hklm32="HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\$u"
hkcu="HKEY_CURRENT_USER\\Software\\$u"
ids=(7-Zip "{5C1B7A2E-3F4D-4E8B-9A61-0C2D3E4F5A6B}" ContosoRuntime ContosoSync BlankName
     NoUninstaller)
ids32=("Notepad++" "{8F0E1D2C-3B4A-4968-8776-5A4B3C2D1E0F}")
idsu=("{771FD6B0-FA20-440A-A002-3B3BAC16DC50}_is1" LegacyViewerUser CafeStudio)

{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  # Earlier runs' keys go first, so that every run starts from the same data.
  for i in "${ids[@]}"; do printf '[-%s\\%s]\r\n' "$hklm" "$i"; done
  for i in "${ids32[@]}"; do printf '[-%s\\%s]\r\n' "$hklm32" "$i"; done
  for i in "${idsu[@]}"; do printf '[-%s\\%s]\r\n' "$hkcu" "$i"; done
  cat <<REG

[$hklm\\7-Zip]
"DisplayName"="7-Zip 23.01 (x64)"
"DisplayVersion"="23.01"
"Publisher"="Igor Pavlov"
"InstallLocation"="C:\\\\Program Files\\\\7-Zip\\\\"
"UninstallString"="\\"C:\\\\Program Files\\\\7-Zip\\\\Uninstall.exe\\""
"DisplayIcon"="C:\\\\Program Files\\\\7-Zip\\\\7zFM.exe"
"NoModify"=dword:00000001
"EstimatedSize"=dword:000016d2

[$hklm\\{5C1B7A2E-3F4D-4E8B-9A61-0C2D3E4F5A6B}]
"DisplayName"="Contoso Office Tools"
"DisplayVersion"="16.0.4266.1001"
"Publisher"="Contoso Ltd."
"InstallDate"="20240105"
"InstallSource"="D:\\\\setup\\\\"
"UninstallString"=hex(2):4d,00,73,00,69,00,45,00,78,00,65,00,63,00,2e,00,65,00,78,00,65,00,\\
  20,00,2f,00,58,00,7b,00,35,00,43,00,31,00,42,00,37,00,41,00,32,00,45,00,2d,\\
  00,33,00,46,00,34,00,44,00,2d,00,34,00,45,00,38,00,42,00,2d,00,39,00,41,00,\\
  36,00,31,00,2d,00,30,00,43,00,32,00,44,00,33,00,45,00,34,00,46,00,35,00,41,\\
  00,36,00,42,00,7d,00,00,00
"SystemComponent"=dword:00000000
"URLInfoAbout"="https://contoso.example/office"

[$hklm\\ContosoRuntime]
"DisplayName"="Contoso Runtime Helper"
"UninstallString"="MsiExec.exe /X{11111111-2222-3333-4444-555555555555}"
"SystemComponent"=dword:00000001

[$hklm\\ContosoSync]
"DisplayName"="  Contoso Sync  "
"DisplayVersion"=" 4.2 "
"Publisher"="Contoso Ltd."
"InstallLocation"="\\"C:\\\\Program Files\\\\Contoso Sync\\""
"UninstallString"=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,6c,00,\\
  65,00,73,00,25,00,5c,00,43,00,6f,00,6e,00,74,00,6f,00,73,00,6f,00,20,00,53,\\
  00,79,00,6e,00,63,00,5c,00,75,00,6e,00,69,00,6e,00,73,00,74,00,2e,00,65,00,\\
  78,00,65,00,00,00

[$hklm\\BlankName]
"DisplayName"="   "
"UninstallString"="C:\\\\Windows\\\\blank.exe"

[$hklm\\NoUninstaller]
"DisplayName"="Left Behind Tool"

[$hklm32\\Notepad++]
"DisplayName"="Notepad++ (32-bit x86)"
"DisplayVersion"="8.6.2"
"Publisher"="Notepad++ Team"
"UninstallString"="C:\\\\Program Files (x86)\\\\Notepad++\\\\uninstall.exe"
"DisplayIcon"="C:\\\\Program Files (x86)\\\\Notepad++\\\\notepad++.exe"
"URLInfoAbout"="https://notepad-plus-plus.org/"

[$hklm32\\{8F0E1D2C-3B4A-4968-8776-5A4B3C2D1E0F}]
"DisplayName"="Contoso Legacy Viewer"
"DisplayVersion"="1.2.3"
"Publisher"="Contoso Ltd."
"UninstallString"="MsiExec.exe /I{8F0E1D2C-3B4A-4968-8776-5A4B3C2D1E0F}"

[$hkcu\\{771FD6B0-FA20-440A-A002-3B3BAC16DC50}_is1]
"DisplayName"="Microsoft Visual Studio Code (User)"
"DisplayVersion"="1.85.1"
"Publisher"="Microsoft Corporation"
"InstallLocation"="C:\\\\users\\\\$user\\\\AppData\\\\Local\\\\Programs\\\\Microsoft VS Code\\\\"
"UninstallString"="\\"C:\\\\users\\\\$user\\\\AppData\\\\Local\\\\Programs\\\\Microsoft VS Code\\\\unins000.exe\\""
"Inno Setup: Icon Group"="Visual Studio Code"
"HelpLink"="https://code.visualstudio.com/"

[$hkcu\\LegacyViewerUser]
"DisplayName"="CONTOSO LEGACY VIEWER"
"DisplayVersion"="1.10"
"Publisher"=""
"UninstallString"="\\"C:\\\\users\\\\$user\\\\AppData\\\\Local\\\\Legacy Viewer\\\\remove.exe\\" /user"

[$hkcu\\CafeStudio]
"DisplayName"="Café Studio – Ærø"
"DisplayVersion"="2.0 beta"
"Publisher"="Øresund Software"
"UninstallString"="\\"C:\\\\Program Files\\\\Café Studio\\\\uninst.exe\\" /S"
REG
} | sed 's/$/\r/; s/\r\r$/\r/' | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$work/demo.reg"

kv_wine_prefix
wineserver -p >/dev/null 2>&1 || true
wine regedit /S "$(winepath -w "$work/demo.reg")" </dev/null >/dev/null 2>&1

echo "== kvdiag.exe uninstall under Wine ($WINEPREFIX)"
wine "$mingw/src/tools/kvdiag/kvdiag.exe" uninstall </dev/null | tr -d '\r' | tee "$work/wine.txt"
wine "$mingw/src/tools/kvdiag/kvdiag.exe" uninstall --json </dev/null | tr -d '\r' >"$work/wine.json"
"$native/src/tools/kvdiag/kvdiag" uninstall --json --reg "$work/demo.reg" >"$work/native.json"

# Wine names its Windows folder "C:\windows", the replayed machine "C:\Windows".
sed -i 's/C:\\\\windows\\\\/C:\\\\Windows\\\\/g' "$work/wine.json" "$work/native.json"
status=0
echo "== kvdiag.exe uninstall --json (Wine) against kvdiag uninstall --json --reg (native)"
if diff -u "$work/native.json" "$work/wine.json"; then
  echo "same $(grep -c '"Index"' "$work/wine.json") entries, field by field"
else
  status=1
fi

names=$(sed -n 's/.*"DisplayName": "\([^"]*\)".*/\1/p' "$work/wine.json" | paste -sd '|')
expected='7-Zip 23.01 (x64)|Contoso Sync|Contoso Office Tools|Notepad++ (32-bit x86)|Contoso Legacy Viewer|Café Studio – Ærø|Microsoft Visual Studio Code (User)'
if [ "$names" = "$expected" ]; then
  echo "expected programs in the expected order"
else
  printf 'unexpected list:\n  got      %s\n  expected %s\n' "$names" "$expected"
  status=1
fi
exit $status
