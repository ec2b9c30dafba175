#!/usr/bin/env bash
# scripts/make-demo-game: called with paths relative to another directory it makes the whole
# game and patch; a tool that is not there or that fails midway leaves nothing behind.
# Usage: make_demo_game_test.sh DRAVO
set -u
dravo=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
make_game=$root/scripts/make-demo-game
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
export DRAVO_DEMO_WORLD_KIB=64

# Relative paths everywhere, from a directory that is neither the tool's nor the game's.
mkdir -p "$tmp/tools" "$tmp/work/sub"
cp "$dravo" "$tmp/tools/dravo"
if (cd "$tmp/work/sub" && bash "$make_game" ../../tools/dravo ../g ../p >"$tmp/out" 2>&1); then
  for f in Dravo.ini multigen.dat Data/dravo.mul message.txt message.dat message.str Dravo.exe; do
    [ -s "$tmp/work/g/$f" ] || fail "relative: the game has no $f"
  done
  for f in patch.ini patch.dat newhero.bin msgnew.txt; do
    [ -e "$tmp/work/p/$f" ] || fail "relative: the patch has no $f"
  done
  "$dravo" msg show "$tmp/work/g" 1 | grep -q 'Welcome to Dravo' || fail "relative: message 1 is not in the tables"
  [ -z "$(ls -A "$tmp/work" | grep -v -x -e g -e p -e sub)" ] || fail "relative: scratch folders left: $(ls -A "$tmp/work")"
else
  fail "relative: exit status $?"; cat "$tmp/out"
fi

# refused GAME PATCH DRAVO: the call fails with a message and writes neither folder.
refused() {
  local name=$1 game=$2 patch=$3; shift 3
  if bash "$make_game" "$@" "$game" "$patch" >"$tmp/out" 2>&1; then
    fail "$name: succeeded"
  else
    grep -q '^make-demo-game: ' "$tmp/out" || { fail "$name: no message"; cat "$tmp/out"; }
  fi
  [ ! -e "$game" ] || [ -z "$(ls -A "$game")" ] || fail "$name: the game folder was written"
  [ ! -e "$patch" ] || [ -z "$(ls -A "$patch")" ] || fail "$name: the patch folder was written"
}

chmod -x "$tmp/tools/dravo"
refused "not executable" "$tmp/n1/g" "$tmp/n1/p" "$tmp/tools/dravo"
refused "no such tool" "$tmp/n2/g" "$tmp/n2/p" "$tmp/tools/missing"
mkdir -p "$tmp/n3/g" && echo keep >"$tmp/n3/g/mine"
if bash "$make_game" "$dravo" "$tmp/n3/g" "$tmp/n3/p" >"$tmp/out" 2>&1; then fail "game folder not empty: succeeded"; fi
[ "$(ls -A "$tmp/n3")" = g ] && [ "$(ls -A "$tmp/n3/g")" = mine ] ||
  fail "game folder not empty: written: $(cd "$tmp/n3" && find .)"

# A tool that works for the container but fails when compiling the messages, late in the run.
cat >"$tmp/tools/flaky" <<EOF
#!/bin/sh
[ "\$1" = msg ] && { echo "dravo: cannot compile" >&2; exit 1; }
exec "$dravo" "\$@"
EOF
chmod +x "$tmp/tools/flaky"
mkdir -p "$tmp/n4"
if (cd "$tmp/n4" && bash "$make_game" ../tools/flaky g p >"$tmp/out" 2>&1); then
  fail "failing tool: succeeded"
fi
[ -z "$(ls -A "$tmp/n4")" ] || fail "failing tool: left behind: $(ls -A "$tmp/n4")"

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
