#!/usr/bin/env bash
# The package's NSIS installer under Wine: a silent install (/S /D=) into an
# analyzer's program folder puts flashdecode.dll into <root>\PlugInsA and the
# three help files into PlugInsA\Help\Eng|Si|Tr\DIZeruve.viz, where the
# configuration sheet's Help button looks (two levels above the program's
# folder); the uninstaller then removes all of it and its registry entry.
# The installer is built with NSIS's amd64 stub here, since this Wine runs
# only 64-bit programs; the script is the one the package uses.
# Usage: installer_test.sh SOURCE_DIR PLUGIN_DLL
set -euo pipefail
src=$1 dll=$2
source "$src/scripts/wine-env"
fd_wine_prefix

work=$(mktemp -d)
root="fdtest-$$"
drive="$WINEPREFIX/drive_c"
trap 'rm -rf "$work" "$drive/$root"' EXIT
"$src/scripts/build-help" "$work/help"
makensis -V2 -DTARGET=amd64-unicode -DVERSION=0.0.0 -DARCH=x64 -DPLUGIN_DLL="$dll" \
  -DHELP_DIR="$work/help" -DOUTFILE="$work/setup.exe" "$src/packaging/flashdecode.nsi"

mkdir -p "$drive/$root/Analyzer/Program/Bin"
: >"$drive/$root/Analyzer/Program/Bin/analyzer.exe"
timeout 60 "$WINE" "$work/setup.exe" /S "/D=C:\\$root\\Analyzer\\Program\\Bin" </dev/null >/dev/null 2>&1

status=0
fail() { echo "FAIL: $*"; status=1; }
plugins="$drive/$root/Analyzer/PlugInsA"
cmp -s "$dll" "$plugins/flashdecode.dll" || fail "flashdecode.dll not installed into PlugInsA"
for lang in Eng Si Tr; do
  cmp -s "$work/help/$lang/DIZeruve.viz" "$plugins/Help/$lang/DIZeruve.viz" || fail "help file missing in Help/$lang"
  chmls list "$plugins/Help/$lang/DIZeruve.viz" 2>/dev/null | grep -q ' /index.html$' || fail "Help/$lang/DIZeruve.viz does not open"
done
[ -f "$plugins/flashdecode-uninstall.exe" ] || fail "no uninstaller"
"$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\flashdecode' </dev/null 2>/dev/null \
  | grep -q UninstallString || fail "no uninstall entry in the registry"

# The uninstaller copies itself away and returns at once: wait for it.
timeout 60 "$WINE" "C:\\$root\\Analyzer\\PlugInsA\\flashdecode-uninstall.exe" /S </dev/null >/dev/null 2>&1
for _ in $(seq 100); do [ -e "$plugins" ] || break; sleep 0.1; done
[ -e "$plugins" ] && fail "PlugInsA left behind: $(cd "$plugins" && find . | tr '\n' ' ')"
[ -f "$drive/$root/Analyzer/Program/Bin/analyzer.exe" ] || fail "the analyzer's own files were touched"
"$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\flashdecode' </dev/null >/dev/null 2>&1 \
  && fail "uninstall entry left in the registry"
[ $status -eq 0 ] && echo "installer: installed and uninstalled cleanly"
exit $status
