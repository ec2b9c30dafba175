#!/usr/bin/env bash
# Kills "dravo install" at random instants over its whole run, then runs "dravo recover", and
# checks that every trial ends with the game all old or all new, with no scratch file, stage
# or open journal left behind. Prints the counts.
# Usage: crash_install_test.sh DRAVO TEMPLATE [TRIALS] [CONTAINER_KIB]
set -u
dravo=$1
template=$2
trials=${3:-40}
kib=${4:-4096}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$template" "$tmp/template" && template=$tmp/template

DRAVO_DEMO_WORLD_KIB=$kib bash "$root/scripts/make-demo-game" "$dravo" "$tmp/old" "$tmp/patch" >/dev/null || exit 1
"$dravo" pack build --template "$template" --out "$tmp/patch.bin" "$tmp"/patch/* >/dev/null || exit 1

# The patched game, and how long an install takes.
cp -r "$tmp/old" "$tmp/new"
started=$(date +%s%N)
"$dravo" install --game-dir "$tmp/new" --patch "$tmp/patch.bin" --yes >/dev/null || { echo "a clean install failed"; exit 1; }
run_ms=$((($(date +%s%N) - started) / 1000000 + 5))

# All old: the old game, and at most an empty folder for the journals.
is_old() { diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/old" "$1" >/dev/null && [ -z "$(ls -A "$1/DravoPatch.undo" 2>/dev/null)" ]; }
# All new: the patched game with its kept files; the journal names this folder's own paths.
is_new() { diff -r -x DravoPatch.log -x '*.journal' "$tmp/new" "$1" >/dev/null && grep -qx commit "$1/DravoPatch.undo/install-1.journal"; }
leftovers() { find "$1" -name '*~[0-9]*.[0-9]*' -o -name DravoPatch.stage; }

old=0 new=0 bad=0
for ((i = 1; i <= trials; i++)); do
  g=$tmp/g
  rm -rf "$g" && cp -r "$tmp/old" "$g"
  "$dravo" install --game-dir "$g" --patch "$tmp/patch.bin" --yes >/dev/null 2>&1 &
  pid=$!
  delay_ms=$((RANDOM % run_ms))
  sleep "$(printf '0.%03d' "$delay_ms")"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if ! "$dravo" recover --game-dir "$g" >"$tmp/recover.out" 2>&1; then
    echo "trial $i (kill after $delay_ms ms): recover failed"; cat "$tmp/recover.out"; bad=$((bad + 1)); continue
  fi
  left=$(leftovers "$g")
  if [ -n "$left" ]; then
    echo "trial $i (kill after $delay_ms ms): left behind: $left"; bad=$((bad + 1))
  elif is_old "$g"; then
    old=$((old + 1))
  elif is_new "$g"; then
    new=$((new + 1))
  else
    echo "trial $i (kill after $delay_ms ms): neither the old game nor the new one"
    diff -r -x DravoPatch.log "$tmp/old" "$g" | head -5
    bad=$((bad + 1))
  fi
done
echo "crash_install: $trials kills over a ${run_ms} ms install: all old $old, all new $new, mixed or unclean $bad"
[ "$bad" -eq 0 ]
