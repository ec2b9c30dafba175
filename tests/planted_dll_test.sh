#!/usr/bin/env bash
# A bcrypt.dll left beside dravo.exe, and made native-first so that Wine would take it over its
# own: the tool hashes a patch (pack build and pack list check its SHA-256) and succeeds, and
# the planted DLL was never loaded. Then the same beside a patch installer made from
# DravoPatch.exe, as a download folder would hold it: a silent install of the demo game
# completes, and the planted DLL was never loaded.
# Usage: planted_dll_test.sh DRAVO_EXE PLANTED_DLL TEMPLATE_EXE INSTALLER_EXE NATIVE_DRAVO
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tmp=$(mktemp -d)
# The installer registers what it installs in the prefix it runs in: it runs in a copy of the
# project's clean prefix, which the Wine tests copy for their own scratch prefixes.
trap 'WINEPREFIX=$tmp/prefix wineserver -k 2>/dev/null; rm -rf "$tmp"' EXIT
cp "$1" "$tmp/dravo.exe" && cp "$2" "$tmp/bcrypt.dll" && cp "$3" "$tmp/template.exe" || exit 1
echo "carried" >"$tmp/a.txt"
cd "$tmp" || exit 1
export DRAVO_WINEDLLOVERRIDES="bcrypt=n,b"
failures=0
"$root/scripts/wine-run" "$tmp/dravo.exe" pack build --template template.exe --out patch.exe a.txt >out 2>&1 ||
  { echo "FAIL pack build beside a planted bcrypt.dll"; cat out; failures=$((failures + 1)); }
"$root/scripts/wine-run" "$tmp/dravo.exe" pack list patch.exe >out 2>&1 ||
  { echo "FAIL pack list beside a planted bcrypt.dll"; cat out; failures=$((failures + 1)); }
[ ! -e planted-dll-loaded ] || { echo "FAIL the planted bcrypt.dll was loaded by dravo.exe"; failures=$((failures + 1)); }

mkdir downloads
bash "$root/scripts/make-demo-game" "$5" game patch >/dev/null || { echo "cannot make the demo game"; exit 1; }
"$5" pack build --template "$4" --out downloads/DravoPatch.exe patch/* >/dev/null || { echo "cannot stamp the patch"; exit 1; }
cp "$2" downloads/bcrypt.dll
base=$("$root/scripts/wine-run" --prefix "$4") && cp -a "$base" "$tmp/prefix" || { echo "cannot make a prefix"; exit 1; }
game_dir="Z:$(pwd)/game"
(cd downloads && DRAVO_WINEPREFIX=$tmp/prefix "$root/scripts/wine-run" DravoPatch.exe /S "/D=${game_dir//\//\\}" >../out 2>&1) ||
  { echo "FAIL the installer beside a planted bcrypt.dll did not complete"; cat out; failures=$((failures + 1)); }
[ -f game/DravoPatch.undo/install-1.journal ] || { echo "FAIL the installer made no journal"; failures=$((failures + 1)); }
# Wherever the installer's current folder was when it would have loaded the DLL.
[ -z "$(find downloads game -name planted-dll-loaded)" ] ||
  { echo "FAIL the planted bcrypt.dll was loaded by the installer"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "all checks passed"
[ "$failures" -eq 0 ]
