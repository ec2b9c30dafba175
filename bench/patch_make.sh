#!/usr/bin/env bash
# dravo patch make on a game with a 256 MiB container (the demo game, and the same game with
# the demo patch installed, so that a member, messages and a new message differ), against
# reading both containers through (cmp) and writing the patched one once and flushing it
# (cp + sync), in the same run; the goal is at most 1.5 times that. Patch make reads both
# containers to plan, and its proof installs into a view of OLD, which rewrites the container
# into a scratch folder: that copy stays in the page cache, since the view is removed at the
# end and nothing of it needs to reach the disk, and its removal is part of the time. Best of
# three.
# Usage: bench/patch_make.sh [NATIVE_DRAVO]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dravo=${1:-$root/build/native/dravo}
template=${DRAVO_TEMPLATE:-$root/build/win32/DravoPatch.exe}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export TMPDIR=$tmp  # the proof's view of OLD goes here, on the same disk
DRAVO_DEMO_WORLD_KIB=262144 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/old" "$tmp/patch" >/dev/null
"$dravo" pack build --template "$template" --out "$tmp/Patch.exe" "$tmp"/patch/* >/dev/null
cp -r "$tmp/old" "$tmp/new"
"$dravo" install --game-dir "$tmp/new" --patch "$tmp/Patch.exe" --yes >/dev/null
(cd "$tmp/new" && rm -rf DravoPatch.* ./*~undo* Data/*~undo* patch.ini patch.dat msgnew.txt newhero.bin)
size=$(stat -c %s "$tmp/old/Data/dravo.mul")
sync

now() { date +%s.%N; }
best_make=999 best_peer=999
for round in 1 2 3; do
  rm -f "$tmp/Made.exe" && sync
  t=$(now)
  "$dravo" patch make --old "$tmp/old" --new "$tmp/new" --out "$tmp/Made.exe" --template "$template" >"$tmp/make.log" ||
    { cat "$tmp/make.log"; exit 1; }
  d=$(echo "$(now) - $t" | bc)
  best_make=$(echo "if ($d < $best_make) $d else $best_make" | bc)
  t=$(now)
  cmp -s "$tmp/old/Data/dravo.mul" "$tmp/new/Data/dravo.mul" || true
  cp --reflink=never "$tmp/new/Data/dravo.mul" "$tmp/copy.mul" && sync "$tmp/copy.mul"
  d=$(echo "$(now) - $t" | bc)
  best_peer=$(echo "if ($d < $best_peer) $d else $best_peer" | bc)
  rm -f "$tmp/copy.mul"
done
printf 'patch_make: %d MiB container: patch make (compare, plan, proof by install into a view of OLD) %.3f s; cmp of the containers + cp + sync %.3f s (ratio %.2f)\n' \
  $((size >> 20)) "$best_make" "$best_peer" "$(echo "$best_make / $best_peer" | bc -l)"
