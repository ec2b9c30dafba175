#!/usr/bin/env bash
# dravo install --dry-run: it leaves the game byte for byte as it was and nothing behind, and
# what it says each work item would do, and which files would change, is what the real install
# that follows does.
# Usage: tool_dry_run_test.sh DRAVO TEMPLATE
set -u
dravo=$1
template=$2
. "$(dirname "${BASH_SOURCE[0]}")/game_test_lib.sh"

DRAVO_DEMO_WORLD_KIB=64 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/game" "$tmp/patch" >/dev/null || exit 1
"$dravo" pack build --template "$template" --out "$tmp/patch.bin" "$tmp"/patch/* >/dev/null || exit 1
mkdir -p "$tmp/bad" && cp "$tmp"/patch/* "$tmp/bad/"
sed -i 's/^0 newhero.bin hero/0 missing.bin hero/' "$tmp/bad/patch.ini"
"$dravo" pack build --template "$template" --out "$tmp/bad.bin" "$tmp"/bad/* >/dev/null || exit 1

# Every file with its size, time and contents: what "unchanged" means here.
snapshot() { (cd "$1" && find . -type f -printf '%P %s %T@\n' | sort && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
# The files an install changed, as the dry run names them: created, changed, deleted; the
# install's own records (log, journal, kept files) left out.
real_changes() {  # real_changes BEFORE AFTER
  local f
  (cd "$1" && find . -type f -printf '%P\n'; cd "$2" && find . -type f -printf '%P\n') | sort -u |
    grep -v -e '^DravoPatch\.log$' -e '^DravoPatch\.undo/' -e '~undo[0-9]' | while read -r f; do
      if [ ! -e "$1/$f" ]; then echo "created $f"
      elif [ ! -e "$2/$f" ]; then echo "deleted $f"
      elif ! cmp -s "$1/$f" "$2/$f"; then echo "changed $f"; fi
    done | sort
}
dry_changes() {  # the dry run's list from $tmp/out, paths relative to $1
  tr -d '\r' <"$tmp/out" | sed -n "s#^  \(created\|changed\|deleted\)\t$1/#\1 #p" | sort
}
dry_items() { tr -d '\r' <"$tmp/out" | sed -n 's/^  \(\(applied\|skipped\|failed\): .*\)$/\1/p'; }
logged_items() {  # the items of record N of the game's log
  awk -v n="$2" '/^== / { r++ } r == n && /^(applied|skipped|failed): / { print }' "$1/DravoPatch.log"
}

# dry_then_real NAME GAME PATCH WANT-STATUS LOG-RECORD: a dry run, checked, then the real install.
dry_then_real() {
  local name=$1 game=$2 patch=$3 want=$4 record=$5
  snapshot "$game" >"$tmp/before"
  rm -rf "$tmp/copy" && cp -a "$game" "$tmp/copy"
  "$dravo" install --game-dir "$game" --patch "$patch" ${again:+--reinstall} --dry-run >"$tmp/out" 2>"$tmp/err" </dev/null
  local got=$?
  [ "$got" = "$want" ] || { fail "$name: dry run exit $got, expected $want"; cat "$tmp/out" "$tmp/err"; }
  snapshot "$game" | cmp -s - "$tmp/before" || fail "$name: the dry run changed the game"
  [ -z "$(ls -A "$TMPDIR")" ] || { fail "$name: the dry run left $(ls -A "$TMPDIR")"; rm -rf "${TMPDIR:?}"/*; }
  if [ "$want" = 0 ]; then
    grep -q '^Dry run: the install would complete; nothing was changed\.$' "$tmp/out" || fail "$name: no verdict"
  else
    grep -q '^Dry run: the install would fail' "$tmp/out" || fail "$name: no verdict of failure"
  fi
  dry_items >"$tmp/dry-items"
  dry_changes "$game" >"$tmp/dry-changes"
  "$dravo" install --game-dir "$game" --patch "$patch" ${again:+--reinstall} --yes >"$tmp/real" 2>&1 </dev/null
  logged_items "$game" "$record" >"$tmp/real-items"
  [ "$want" != 0 ] || [ -s "$tmp/dry-items" ] || fail "$name: the dry run names no work item"
  cmp -s "$tmp/dry-items" "$tmp/real-items" || { fail "$name: outcomes differ"; diff "$tmp/dry-items" "$tmp/real-items"; }
  if [ "$want" = 0 ]; then
    real_changes "$tmp/copy" "$game" >"$tmp/real-changes"
    cmp -s "$tmp/dry-changes" "$tmp/real-changes" ||
      { fail "$name: changed files differ"; diff "$tmp/dry-changes" "$tmp/real-changes"; }
  fi
}

rm -rf "$tmp/g" && cp -r "$tmp/game" "$tmp/g"
dry_then_real first "$tmp/g" "$tmp/patch.bin" 0 1
# On the patched game, installed again: the rebuild is skipped (tagged "02"), the message's check fails.
again=1 dry_then_real again "$tmp/g" "$tmp/patch.bin" 0 2
grep -q '^  skipped: 1 msgnew.txt' "$tmp/out" || fail "again: the rebuild is not shown skipped"

# A failing item (found by the checks before the first change): the dry run names it and
# why, says that the install would fail, and lists no file as changed.
rm -rf "$tmp/g" && cp -r "$tmp/game" "$tmp/g"
dry_then_real failing "$tmp/g" "$tmp/bad.bin" 1 1
grep -q '^0 missing.bin hero: cannot open the new data missing.bin' "$tmp/out" || fail "failing: the item is not named"
! grep -q '^Files the install would change' "$tmp/out" || fail "failing: files listed as changed"

# A game an interrupted install left unwhole: the install would put it back first, so the dry
# run says so and changes nothing (not even the journal it found).
rm -rf "$tmp/g" && cp -r "$tmp/game" "$tmp/g" && mkdir "$tmp/g/DravoPatch.undo"
printf 'dravo journal 1\ninstall 1\n' >"$tmp/g/DravoPatch.undo/install-1.journal"
snapshot "$tmp/g" >"$tmp/before"
"$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --dry-run >"$tmp/out" 2>&1 </dev/null && fail "unwhole: exit 0"
grep -q 'did not end.*run "dravo recover"' "$tmp/out" || { fail "unwhole: no word of it"; cat "$tmp/out"; }
snapshot "$tmp/g" | cmp -s - "$tmp/before" || fail "unwhole: the dry run changed the game"

# A game that is not there: exit 1, and nothing made.
"$dravo" install --game-dir "$tmp/nowhere" --patch "$tmp/patch.bin" --dry-run >"$tmp/out" 2>&1 </dev/null &&
  fail "not-found: exit 0"
[ -z "$(ls -A "$TMPDIR")" ] || fail "not-found: the dry run left $(ls -A "$TMPDIR")"

finish
