#!/usr/bin/env bash
# dravo patch check: the demo patch, as a folder and as a stamped installer, is found sound
# (no output, exit 0); each broken variant is reported at its file and line, with exit 1 for
# an error and 0 when only warnings came.
# Usage: tool_patch_check_test.sh DRAVO TEMPLATE
set -u
dravo=$1
template=$2
emu=
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/tool_test_lib.sh"
cp "$template" "$tmp/template" && template=$tmp/template

DRAVO_DEMO_WORLD_KIB=64 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/game" "$tmp/good" >/dev/null || exit 1
mkdir -p "$tmp/scratch"
export TMPDIR=$tmp/scratch

quiet() {  # quiet NAME: nothing printed at all
  [ ! -s "$tmp/out" ] && [ ! -s "$tmp/err" ] || { fail_check "$1: printed"; cat "$tmp/out" "$tmp/err"; }
}
variant() {  # variant NAME: a copy of the good patch to break, its folder printed
  rm -rf "$tmp/v/$1" && mkdir -p "$tmp/v" && cp -r "$tmp/good" "$tmp/v/$1" && echo "$tmp/v/$1"
}
record() { printf '%s' "$1"; head -c $((20 - ${#1})) /dev/zero; printf '%s' "$2"; head -c $((20 - ${#2})) /dev/zero; printf '\0\0'; }
stamp() {  # stamp FOLDER OUT
  run pack build --template "$template" --out "$2" "$1"/* >/dev/null || fail_check "stamp $1"
}

# The good patch: silent, as a folder and as an installer, with and without the game.
check good-dir 0 run patch check "$tmp/good" && quiet good-dir
check good-dir-game 0 run patch check "$tmp/good" --game-dir "$tmp/game" && quiet good-dir-game
stamp "$tmp/good" "$tmp/good.exe"
check good-exe-game 0 run patch check "$tmp/good.exe" --game-dir "$tmp/game" && quiet good-exe-game
[ -z "$(ls -A "$tmp/scratch")" ] || fail_check "good-exe-game: the scratch folder was left: $(ls -A "$tmp/scratch")"

# The work list: an unknown kind, a header after [work], malformed lines of each kind, a line
# longer than the runner reads, a kind without its blank.
p=$(variant work)
sed -i 's/^0 newhero.bin hero\r$/3 newhero.bin hero\r\n[path]\r\n0 newhero.bin\r\n1msgnew.txt #1 Welcome\r\n1 msgnew.txt 1 Welcome\r/' "$p/patch.ini"
sed -i 's/^2 2:Gold:/2 2-Gold-/' "$p/patch.ini"
printf '0 newhero.bin hero%90s\r\n' x >>"$p/patch.ini"
check work 1 run patch check "$p" && {
  expect_line work-kind "$tmp/err" "^patch\.ini:4: error: unknown work kind '3'"
  expect_line work-header "$tmp/err" '^patch\.ini:5: error: \[path\] does not start a section'
  expect_line work-kind0 "$tmp/err" '^patch\.ini:6: error: the line is not 0 SOURCE MEMBER'
  expect_line work-separator "$tmp/err" "^patch\.ini:7: error: the kind is followed by 'm', not a blank"
  expect_line work-kind1 "$tmp/err" '^patch\.ini:8: error: the work line has no #NUMBER'
  expect_line work-kind2 "$tmp/err" '^patch\.ini:10: error: the work line is not NUMBER:CHECK TEXT:HEADER'
  expect_line work-long "$tmp/err" '^patch\.ini:13: error: the kind .0. line is longer than the 98 characters'
  # The message text behind the kind '2' line is its own, never a work line.
  ! grep -q '^patch\.ini:1[12]:' "$tmp/err" || fail_check "work: the message text was read as work"
}

# Carried files: one missing, one named by nothing (a new file of the game: a note), one named
# too long.
p=$(variant carried)
rm "$p/newhero.bin"
printf 'x' >"$p/extra.bin"
printf 'x' >"$p/a-name-of-twenty.txt"
check carried 1 run patch check "$p" --game-dir "$tmp/game" && {
  expect_line carried-missing "$tmp/err" '^patch\.ini:4: error: the patch does not carry newhero\.bin, and the game has no such file'
  expect_line carried-unused "$tmp/err" '^extra\.bin: note: carried as a new file of the game folder'
  expect_line carried-long "$tmp/err" '^a-name-of-twenty\.txt: error: the name is longer than the 19 characters'
}
p=$(variant unused)
printf 'x' >"$p/extra.bin"
check unused-is-a-note 0 run patch check "$p" --game-dir "$tmp/game" &&
  expect_line unused-is-a-note "$tmp/err" '^extra\.bin: note: carried as a new file of the game folder'
check unused-needs-the-game 0 run patch check "$p" && quiet unused-needs-the-game

# The [path] section out of its columns: the directory one column early, a name run into it.
p=$(variant columns)
sed -i 's/^newhero             hd:/newhero            hd:\r\nnewsword hd:/' "$p/patch.ini"
check columns 1 run patch check "$p" && {
  expect_line columns-20 "$tmp/err" '^patch\.ini:2: error: the directory begins in column 20'
  expect_line columns-blank "$tmp/err" '^patch\.ini:3: error: "newsword hd:" is taken as the name'
}

# patch.dat: a container neither carried nor in the game, a name the table does not have, an
# upper-case name, a tail that is not a record.
p=$(variant records)
{ record newhero nothere.mul; record nosuchname '' ; record NEWHERO ''; printf '\n'; } >"$p/patch.dat"
check records 1 run patch check "$p" --game-dir "$tmp/game" && {
  expect_line records-container "$tmp/err" '^patch\.dat:1: error: the container nothere\.mul of newhero is not carried'
  expect_line records-unknown "$tmp/err" '^patch\.dat:2: error: nosuchname is a name of neither'
  expect_line records-case "$tmp/err" '^patch\.dat:3: error: NEWHERO is not in lower case'
  expect_line records-tail "$tmp/err" '^patch\.dat:4: error: 1 bytes at the end are not a whole 42-byte record'
}

# Against the game: a member the game does not have, a plain file as a member, check texts the
# installed tables do not satisfy (warnings: those items would be skipped).
p=$(variant members)
sed -i 's/^0 newhero.bin hero\r$/0 newhero.bin villain\r\n0 newhero.bin newhero\r/' "$p/patch.ini"
check members 1 run patch check "$p" --game-dir "$tmp/game" && {
  expect_line members-unknown "$tmp/err" "^patch\.ini:4: error: villain is not a name of the game's file table"
  expect_line members-plain "$tmp/err" '^patch\.ini:5: error: newhero is a plain file of the game'
}
# Without the game only what the patch itself defines is judged.
check members-without-game 1 run patch check "$p" && {
  expect_line members-without-game "$tmp/err" '^patch\.ini:5: error: newhero is a plain file, not'
  ! grep -q '^patch\.ini:4:' "$tmp/err" || fail_check "members-without-game: judged a name only the game knows"
}
p=$(variant skipped)
sed -i 's/^1 msgnew.txt #1 Welcome/1 msgnew.txt #1 Goodbye/; s/^2 2:Gold:/2 2:Silver:/' "$p/patch.ini"
check skipped 0 run patch check "$p" --game-dir "$tmp/game" && {
  expect_line skipped-1 "$tmp/err" '^patch\.ini:5: warning: the item would be skipped on this game: message 1 does not begin'
  expect_line skipped-2 "$tmp/err" '^patch\.ini:6: warning: the item would be skipped on this game: message 2 does not hold'
}
# The patched game has the rebuilt tables: the same patch's kind '1' item is skipped there.
rm -rf "$tmp/patched" && cp -r "$tmp/game" "$tmp/patched"
run install --game-dir "$tmp/patched" --patch "$tmp/good.exe" --yes >/dev/null || fail_check "install the good patch"
check patched 0 run patch check "$tmp/good.exe" --game-dir "$tmp/patched" &&
  expect_line patched "$tmp/err" '^patch\.ini:5: warning: the item would be skipped on this game: the message tables were rebuilt'

# The installer itself: a damaged payload is refused as a whole, and a template carries nothing.
cp "$tmp/good.exe" "$tmp/damaged.exe"
# A byte of newhero.bin's content, which lies just behind its name and size.
offset=$(LC_ALL=C grep -abo 'newhero.bin' "$tmp/good.exe" | head -1 | cut -d: -f1)
printf 'X' | dd of="$tmp/damaged.exe" bs=1 seek=$((offset + 30)) conv=notrunc 2>/dev/null
check damaged 1 run patch check "$tmp/damaged.exe" && expect_line damaged "$tmp/err" "^$tmp/damaged\.exe: error: "
check template 1 run patch check "$template" && expect_line template "$tmp/err" 'carries no patch'
[ -z "$(ls -A "$tmp/scratch")" ] || fail_check "damaged: the scratch folder was left"

check usage 2 run patch check
finish
