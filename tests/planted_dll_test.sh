#!/usr/bin/env bash
# A bcrypt.dll left beside dravo.exe, and made native-first so that Wine would take it over its
# own: the tool hashes a patch (pack build and pack list check its SHA-256) and succeeds, and
# the planted DLL was never loaded.
# Usage: planted_dll_test.sh DRAVO_EXE PLANTED_DLL TEMPLATE_EXE
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$1" "$tmp/dravo.exe" && cp "$2" "$tmp/bcrypt.dll" && cp "$3" "$tmp/template.exe" || exit 1
echo "carried" >"$tmp/a.txt"
cd "$tmp" || exit 1
export DRAVO_WINEDLLOVERRIDES="bcrypt=n,b"
failures=0
"$root/scripts/wine-run" "$tmp/dravo.exe" pack build --template template.exe --out patch.exe a.txt >out 2>&1 ||
  { echo "FAIL pack build beside a planted bcrypt.dll"; cat out; failures=$((failures + 1)); }
"$root/scripts/wine-run" "$tmp/dravo.exe" pack list patch.exe >out 2>&1 ||
  { echo "FAIL pack list beside a planted bcrypt.dll"; cat out; failures=$((failures + 1)); }
[ ! -e planted-dll-loaded ] || { echo "FAIL the planted bcrypt.dll was loaded"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "all checks passed"
[ "$failures" -eq 0 ]
