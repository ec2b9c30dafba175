#!/usr/bin/env bash
# dravo patch make on generated pairs of game folders: for each pair the patch is made, found
# sound by `patch check`, and installed into a copy of the old game, which then reads as the
# new game; installed a second time, it leaves every member, plain file and message reading the
# same. A pair that the installer cannot express is refused by name unless --allow-partial is
# given, and the same inputs give the same patch, byte for byte.
# Before that, the pair generator and the comparison are tried on their own.
# Usage: tool_patch_make_test.sh DRAVO TEMPLATE [SEEDS]
set -u
dravo=$(realpath "$1")
template=$2
seeds=${3:-25}
emu=
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/tool_test_lib.sh"
. "$here/game_pair_lib.sh"
cp "$template" "$tmp/template" && template=$tmp/template
mkdir -p "$tmp/scratch"
export TMPDIR=$tmp/scratch

pair() {  # pair SEED: a fresh pair in $tmp/old and $tmp/new
  rm -rf "$tmp/old" "$tmp/new"
  make_game_pair "$1" "$tmp/old" "$tmp/new" "$dravo" || { fail_check "seed $1: the pair could not be made"; return 1; }
}
compare() {  # compare NAME A B: same_game, its findings shown on failure
  same_game "$2" "$3" "$dravo" >"$tmp/differences" && return
  fail_check "$1: differs from the new game:"; cat "$tmp/differences"; return 1
}
completes() {  # completes NAME GAME PATCH [OPTION]: an install that ends with the success line
  check "$1" 0 "$dravo" install --game-dir "$2" --patch "$3" --yes ${4:+"$4"} || return 1
  [ "$(tr -d '\r' <"$tmp/out" | tail -1)" = "Dravo patch completed." ] || { fail_check "$1: not completed"; cat "$tmp/out"; return 1; }
}

# --- The generator and the comparison -----------------------------------------------------

# A seed gives the same folders every time; another seed other ones.
pair 7 && mv "$tmp/old" "$tmp/old7" && mv "$tmp/new" "$tmp/new7"
pair 7 && { diff -r "$tmp/old7" "$tmp/old" >/dev/null && diff -r "$tmp/new7" "$tmp/new" >/dev/null ||
  fail_check "seed 7 made different folders twice"; }
pair 8 && { ! diff -r "$tmp/old7" "$tmp/old" >/dev/null || fail_check "seeds 7 and 8 made the same game"; }
rm -rf "$tmp/old7" "$tmp/new7"

# The comparison passes over what an install may leave different: where the strings sit in
# message.str (here moved by a first definition of a message that a second one replaces) and
# the "02" tag of message.dat. It names a changed header, a member, a plain file gone.
pair 3
mutant() {  # mutant: a fresh copy of the old game in $tmp/m
  rm -rf "$tmp/m" && cp -r "$tmp/old" "$tmp/m"
}
recompiled() {  # recompiled AWK-PROGRAM: $tmp/m's tables compiled from its decompiled source, edited
  "$dravo" msg decompile "$tmp/m" -o "$tmp/source" 2>/dev/null && awk "$1" "$tmp/source" >"$tmp/m/message.txt" &&
    (cd "$tmp/scratch" && "$dravo" msg compile "$tmp/m" >/dev/null 2>&1) && rm -f "$tmp/m/message.txt" "$tmp/scratch/Message.err"
}
differs_in() {  # differs_in NAME TEXT: same_game old vs $tmp/m fails and names TEXT
  if same_game "$tmp/old" "$tmp/m" "$dravo" >"$tmp/differences"; then fail_check "$1: not found"
  else grep -aqF -- "$2" "$tmp/differences" || { fail_check "$1: $2 not named:"; cat "$tmp/differences"; }; fi
}
mutant
# The first message repeated at the top: every string of the tables moves down.
recompiled '/^##?[1-9]/ && !done { first = $0; while ((getline line) > 0 && line !~ /^#/) first = first "\n" line
  print first; print first; print line; done = 1; next } { print }' || fail_check "moved: no tables"
printf 02 | dd of="$tmp/m/message.dat" conv=notrunc status=none
cmp -s "$tmp/old/message.str" "$tmp/m/message.str" && fail_check "moved: the strings did not move"
same_game "$tmp/old" "$tmp/m" "$dravo" >"$tmp/differences" || { fail_check "moved: found different"; cat "$tmp/differences"; }
mutant
recompiled '/^##?[1-9]/ && !done { $2 = $2 + 1; done = 1 } { print }'
header=$(grep -am1 '^##*[1-9]' "$tmp/source" | tr -dc '0-9 ' | cut -d' ' -f1)
differs_in header "message $header differs"
mutant
first=$(gp_table "$tmp/old" | awk '$1 == "plain" { print $2; exit }')
rm "$(gp_find "$tmp/m" "$first")"
differs_in plain-gone "$first: only in $tmp/old"
mutant
container=$(gp_table "$tmp/old" | awk '$1 == "container" { print $2; exit }')
box=$(gp_find "$tmp/m" "$container")
member=$("$dravo" container list "$box" | awk 'NR == 2 { print $1 }')
printf 'other data' >"$tmp/other"
"$dravo" container replace "$box" "$member" "$tmp/other" >/dev/null 2>&1
differs_in member "$container: Files A/$member and B/$member differ"
rm -rf "$tmp/m"

# The comparison names what differs, and a patch that brings one changed member makes the
# games differ in everything but that member.
pair 3
same_game "$tmp/old" "$tmp/new" "$dravo" >"$tmp/before"
line=$(grep -a -m1 '^[^ ]*: Files A/' "$tmp/before")
member=${line#*Files A/}; member=${member%% *}
if [ -z "$member" ]; then
  fail_check "hand-made: no changed member is named:"; cat "$tmp/before"
else
  container=$(gp_find "$tmp/new" "${line%%: *}")
  mkdir -p "$tmp/hand"
  "$dravo" container extract "$container" "$member" "$tmp/hand/member.bin" >/dev/null &&
    printf '[work]\r\n0 member.bin %s\r\n' "$member" >"$tmp/hand/patch.ini" && : >"$tmp/hand/patch.dat" &&
    "$dravo" pack build --template "$template" --out "$tmp/hand.bin" "$tmp"/hand/* >/dev/null ||
    fail_check "hand-made: the patch could not be built"
  cp -r "$tmp/old" "$tmp/copy"
  completes hand-made "$tmp/copy" "$tmp/hand.bin" && {
    same_game "$tmp/copy" "$tmp/new" "$dravo" >"$tmp/after"
    diff <(grep -avF "$line" "$tmp/before") "$tmp/after" >/dev/null ||
      { fail_check "hand-made: differences other than the member's changed:"; diff "$tmp/before" "$tmp/after"; }
  }
  rm -rf "$tmp/copy"
fi

# --- For each seed ----------------------------------------------------------------------

# The generator: a game reads the same as its copy and never as its new version, and over all
# seeds it makes what the patch needs to carry somewhere: a new logical name, a member of a few
# hundred KB, changed plain files and messages, messages of a #RUS section.
generated() {  # generated SEED: the checks of the pair in $tmp/old and $tmp/new
  if [ "$1" -le 3 ]; then
    cp -r "$tmp/old" "$tmp/copy"
    same_game "$tmp/old" "$tmp/copy" "$dravo" >"$tmp/differences" || { fail_check "seed $1: a copy differs"; cat "$tmp/differences"; }
    rm -rf "$tmp/copy"
  fi
  same_game "$tmp/old" "$tmp/new" "$dravo" >"$tmp/differences" && fail_check "seed $1: old and new read the same"
  cmp -s "$tmp/old/Dravo.ini" "$tmp/new/Dravo.ini" || seen+=" new-name"
  find "$tmp/old/Data" -size +190k | grep -q . && seen+=" big-member"
  grep -aq '^message ' "$tmp/differences" && seen+=" messages"
  grep -aq ': differs$' "$tmp/differences" && seen+=" plain"
  od -An -v -tu1 -w180 "$tmp/old/message.dat" | awk '$1 == 52 && $2 == 18 && $180 == 0 { f = 1 } END { exit !f }' && seen+=" rus"
}

# The patch made from the pair: sound, and installed into a copy of the old game it gives the
# new one; a second install leaves everything reading the same.
made() {  # made NAME OUT [OPTION...]: patch make from $tmp/old and $tmp/new succeeds
  local name=$1 out=$2; shift 2
  check "$name" 0 "$dravo" patch make --old "$tmp/old" --new "$tmp/new" --out "$out" --template "$template" "$@"
}
patched() {  # patched SEED
  made "make-$1" "$tmp/patch.exe" || return
  check "check-$1" 0 "$dravo" patch check "$tmp/patch.exe" &&
    { [ ! -s "$tmp/out" ] && [ ! -s "$tmp/err" ] || { fail_check "check-$1: printed"; cat "$tmp/out" "$tmp/err"; }; }
  check "check-game-$1" 0 "$dravo" patch check "$tmp/patch.exe" --game-dir "$tmp/old" &&
    { ! grep -aq 'error:' "$tmp/err" || { fail_check "check-game-$1: errors"; cat "$tmp/err"; }; }
  rm -rf "$tmp/copy" && cp -r "$tmp/old" "$tmp/copy"
  completes "install-$1" "$tmp/copy" "$tmp/patch.exe" && compare "install-$1" "$tmp/copy" "$tmp/new" &&
    completes "again-$1" "$tmp/copy" "$tmp/patch.exe" --reinstall && compare "again-$1" "$tmp/copy" "$tmp/new"
  rm -rf "$tmp/copy"
}

have_make=
"$dravo" patch --help 2>/dev/null | grep -q '^  make ' && have_make=1
seen=
for seed in $(seq 1 "$seeds"); do
  pair "$seed" || continue
  generated "$seed"
  [ -z "$have_make" ] || patched "$seed"
done
for what in new-name big-member messages plain rus; do
  [[ " $seen " == *" $what "* ]] || fail_check "no seed of 1 to $seeds makes a pair with: $what"
done

if [ -z "$have_make" ]; then
  [ "$failures" -ne 0 ] && finish
  echo "dravo patch make is not there yet: only the generator was tried"
  exit 77
fi

# The same inputs give the same bytes; --dir also writes the patch's files, which check sound.
pair 5
made determinism-1 "$tmp/first.exe" && made determinism-2 "$tmp/second.exe" --dir "$tmp/files" && {
  same_file determinism "$tmp/first.exe" "$tmp/second.exe"
  [ -f "$tmp/files/patch.ini" ] && [ -f "$tmp/files/patch.dat" ] || fail_check "--dir: patch.ini or patch.dat missing"
  check dir-check 0 "$dravo" patch check "$tmp/files"
}

# What the installer cannot do is refused by name, and no patch is written: a member added to
# or taken from a container, a plain file removed, a file changed outside the game folder
# itself. With --allow-partial the rest is made, and installs.
refused() {  # refused NAME WHAT-IS-NAMED: patch make from the changed pair fails and names it
  check "$1" 1 "$dravo" patch make --old "$tmp/old" --new "$tmp/new" --out "$tmp/refused.exe" --template "$template" &&
    { grep -aqF -- "$2" "$tmp/out" "$tmp/err" || { fail_check "$1: $2 is not named"; cat "$tmp/out" "$tmp/err"; }; }
  [ ! -e "$tmp/refused.exe" ] || fail_check "$1: a patch was written although the command failed"
  rm -f "$tmp/refused.exe"
}
first_in_table() {  # first_in_table AWK-CONDITION: the relative path of the first such file of the old game
  gp_table "$tmp/old" | awk "$1"' { print $2; exit }'
}
pair 12
box=$(gp_find "$tmp/new" "$(first_in_table '$1 == "container"')")
"$dravo" container add "$box" addedmember "$tmp/new/Dravo.exe" >/dev/null 2>&1 || fail_check "member-added: not added"
refused member-added addedmember
pair 12
taken=$("$dravo" container list "$box" | awk 'NR == 2 { print $1 }')
mkdir -p "$tmp/members" && "$dravo" container extract "$box" --all -o "$tmp/members" >/dev/null 2>&1 && rm "$box" &&
  for f in "$tmp"/members/*; do
    [ "${f##*/}" = "$taken" ] || "$dravo" container add "$box" "${f##*/}" "$f" >/dev/null 2>&1
  done
rm -rf "$tmp/members"
refused member-taken "$taken"
pair 12
gone=$(first_in_table '$1 == "plain" && $2 !~ /\//')
rm "$tmp/new/$gone"
refused plain-removed "$gone"
pair 12
outside=$(first_in_table '$1 == "plain" && $2 ~ /\//')
printf 'changed' >>"$(gp_find "$tmp/new" "$outside")"
refused outside-changed "${outside##*/}"

pair 11
"$dravo" container add "$tmp/new/Data/dravo.mul" addedmember "$tmp/new/Dravo.exe" >/dev/null 2>&1 || fail_check "partial: no member added"
made allow-partial "$tmp/partial.exe" --allow-partial && {
  cp -r "$tmp/old" "$tmp/copy-partial"
  completes allow-partial-install "$tmp/copy-partial" "$tmp/partial.exe" && {
    same_game "$tmp/copy-partial" "$tmp/new" "$dravo" >"$tmp/differences"
    [ "$(grep -ac . "$tmp/differences")" = 1 ] && grep -aq 'addedmember' "$tmp/differences" ||
      { fail_check "allow-partial: differs in more than the added member:"; cat "$tmp/differences"; }
  }
}

finish
