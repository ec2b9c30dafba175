#!/usr/bin/env bash
# The installer runs with the system's rights on a game folder that an ordinary user may write.
# Here root runs the tool on a game folder owned by `nobody`, who planted something first
# (through setpriv, as that user), and nothing in a decoy folder outside the game may change:
# its paths, inodes, modes, owners, sizes and contents are compared before and after each case.
# The kernel's protected_symlinks setting is not relied on: the links are planted in folders
# it does not guard, or by the folder's own owner.
# Usage: security_test.sh DRAVO TEMPLATE (exit 77, skipped, when not root or without setpriv)
set -u
dravo=$1
template=$2
. "$(dirname "${BASH_SOURCE[0]}")/nobody_lib.sh"
# A host path as the tool writes it in a journal.
drive_path() { local p; p=$(realpath -m "$1"); p=${p//\//\\}; echo "z:$p"; }

DRAVO_DEMO_WORLD_KIB=64 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/old" "$tmp/patch" >/dev/null || exit 1
"$dravo" pack build --template "$template" --out "$tmp/patch.bin" "$tmp"/patch/* >/dev/null || exit 1

# What the planted cases aim at: root's own files, one of them readable by root only.
decoy=$tmp/decoy
mkdir -p "$decoy/victim/sub"
echo "root only" >"$decoy/secret" && chmod 600 "$decoy/secret"
echo "plain" >"$decoy/plain.txt"
echo "inner" >"$decoy/victim/inner.txt"
echo "deeper" >"$decoy/victim/sub/deeper.txt"
cp -r "$tmp/old/Data" "$decoy/Data"
chmod 755 "$decoy"
snapshot() {
  (cd "$decoy" && find . -printf '%p %i %m %u %g %s %y %l\n' | sort && find . -type f -exec sha256sum {} + | sort)
}

g=$tmp/g
G=$(drive_path "$g")
fresh_game() {
  rm -rf "$g" && cp -r "$tmp/old" "$g" && chown -R nobody: "$g" && chmod 755 "$g"
}
# A journal planted by root itself (so that its owner is trusted): only its paths are wrong.
root_journal() {  # root_journal TEXT
  mkdir -p "$g/DravoPatch.undo" && printf '%s' "$1" >"$g/DravoPatch.undo/install-1.journal"
}

# attempt NAME WANT-STATUS WANT-REGEX COMMAND...: root runs the tool; its status and a line of
# its output are as expected, and the decoys are as they were.
attempt() {
  local name=$1 want=$2 regex=$3; shift 3
  local before; before=$(snapshot)
  timeout 60 "$dravo" "$@" >"$tmp/out" 2>&1 </dev/null
  local got=$?
  [ "$got" != 124 ] || fail "$name: the tool blocked"
  [ "$got" = "$want" ] || { fail "$name: exit $got, expected $want"; cat "$tmp/out"; }
  [ -z "$regex" ] || grep -Eq "$regex" "$tmp/out" || { fail "$name: no line matching /$regex/ in:"; cat "$tmp/out"; }
  [ "$(snapshot)" = "$before" ] || { fail "$name: the decoys changed"; diff <(echo "$before") <(snapshot) | head; }
}
install() { attempt "$1" "$2" "$3" install --game-dir "$g" --patch "$tmp/patch.bin" --yes; }
recover() { attempt "$1" "$2" "$3" recover --game-dir "$g"; }
unpatch() { attempt "$1" "$2" "$3" unpatch --game-dir "$g"; }

D=$(drive_path "$decoy")
head=$'dravo journal 2\ninstall 1\n'
digest=$(sha256sum "$decoy/plain.txt" | cut -d' ' -f1)

# ---- journals that name files outside the game, or reach them through a link ----
T=$'\t' N=$'\n'
journal_cases=(
  "absolute elsewhere|create$T$D\\plain.txt$N"
  "climbing with ..|create$T$G\\..\\decoy\\plain.txt$N"
  "through a link|create$T$G\\lnk\\plain.txt$N"
  "kept elsewhere|keep$T$D\\plain.txt$T$D\\plain.txt~undo1${T}6$T$digest$N"
  "kept as a link|keep$T$G\\Dravo.exe$T$G\\Dravo.exe~undo1${T}6$T$digest$N"
  "committed, wrote elsewhere|create$T$D\\plain.txt${N}wrote$T$D\\plain.txt$T$digest${T}6${N}commit$N"
)
for c in "${journal_cases[@]}"; do
  name=${c%%|*}
  fresh_game
  as_user ln -s "$decoy" "$g/lnk"
  as_user ln -s "$decoy/plain.txt" "$g/Dravo.exe~undo1"
  root_journal "$head${c#*|}"
  recover "journal $name: recover" 1 "cannot be trusted"
  [ -e "$g/Dravo.exe" ] || fail "journal $name: a game file went"
  unpatch "journal $name: unpatch" 1 "cannot be trusted"
done

# ---- the journal folder and the journal are the installer's own ----
fresh_game
as_user mkdir "$g/DravoPatch.undo"
printf '%screate\t%s\\Dravo.exe\n' "$head" "$G" | as_user tee "$g/DravoPatch.undo/install-1.journal" >/dev/null
recover "a journal the user wrote" 1 "cannot be trusted|may be written by others"
[ -e "$g/Dravo.exe" ] || fail "a journal the user wrote: a game file went"
install "a journal folder the user owns" 1 ""
fresh_game
root_journal "${head}create$T$G\\Dravo.exe$N"
chmod 666 "$g/DravoPatch.undo/install-1.journal"
recover "a journal others may write" 1 "may be written by others"
[ -e "$g/Dravo.exe" ] || fail "a journal others may write: a game file went"

# ---- links where the installer's own files go ----
fresh_game
as_user ln -s "$decoy/victim" "$g/DravoPatch.stage"
recover "the stage as a link: recover" 1 "link"
install "the stage as a link: install" 1 ""
fresh_game
as_user mkdir "$g/DravoPatch.stage"
as_user ln -s "$decoy/victim" "$g/DravoPatch.stage/folder"
as_user ln -s "$decoy/plain.txt" "$g/DravoPatch.stage/file"
recover "links in the stage" 0 "removed"
[ ! -e "$g/DravoPatch.stage" ] || fail "links in the stage: the stage is still there"
fresh_game
as_user ln -s "$decoy/victim" "$g/DravoPatch.undo"
install "the journal folder as a link" 1 "link"
for target in "$decoy/plain.txt" "$decoy/made-by-the-log"; do
  fresh_game
  as_user ln -s "$target" "$g/DravoPatch.log"
  install "the log as a link to ${target##*/}" 1 "DravoPatch.log is a link"
  cmp -s "$tmp/old/Dravo.ini" "$g/Dravo.ini" && [ ! -e "$g/patch.ini" ] || fail "the log as a link: the game changed"
done

# ---- the game's layout through a link: nothing it points at is written ----
fresh_game
rm -rf "$g/Data" && as_user ln -s "$decoy/Data" "$g/Data"
install "the Data folder as a link" 1 "Data.* leads through a link"
fresh_game
mv "$g/Data/dravo.mul" "$g/Data/real.mul" && as_user ln -s real.mul "$g/Data/dravo.mul"
install "a container as a link" 1 "dravo.mul.* leads through a link"

# ---- a dry run's scratch folder cannot be guessed: the names of the next pids lead nowhere ----
fresh_game
chmod 1777 "$TMPDIR"
for ((p = $$; p < $$ + 400; p++)); do as_user ln -s "$decoy/victim" "$TMPDIR/dravo-dry-run-$p"; done
attempt "planted dry-run folders" 0 "" install --game-dir "$g" --patch "$tmp/patch.bin" --dry-run
[ "$(find "$TMPDIR" -mindepth 1 ! -type l | wc -l)" = 0 ] || fail "the dry run left its folder"

# ---- what is not a plain file where a file is expected: refused at once, with its name ----
for planted in multigen.dat Dravo.ini patch.ini; do
  fresh_game
  rm -f "$g/$planted" && as_user mkfifo "$g/$planted"
  install "a pipe as $planted" 1 "$planted"
done
fresh_game
as_user mkfifo "$g/Data/pipe.mul"
attempt "a pipe as a container" 1 "not a plain file" container list "$g/Data/pipe.mul"
rm -f "$g/message.str" && as_user mkfifo "$g/message.str"
attempt "a pipe as a message table" 1 "message.str" msg show "$g" 1

# ---- output onto one of the command's own inputs ----
fresh_game
cp "$g/message.dat" "$tmp/message.dat.before"
attempt "msg export onto its own table" 1 "same file as the input" msg export "$g" -o "$g/message.dat"
cmp -s "$g/message.dat" "$tmp/message.dat.before" || fail "msg export onto its own table: the table changed"
cp "$g/Dravo.ini" "$tmp/carried.ini"
attempt "pack build onto a carried file" 1 "same file as the input" \
  pack build --template "$template" --out "$tmp/carried.ini" "$tmp/carried.ini"
cmp -s "$g/Dravo.ini" "$tmp/carried.ini" || fail "pack build onto a carried file: the file changed"

# ---- an undo that would leave the tables mixed stops before any change ----
for kept in "a folder" "missing" "a pipe"; do
  fresh_game
  "$dravo" install --game-dir "$g" --patch "$tmp/patch.bin" --yes >/dev/null 2>&1 || fail "kept file $kept: install"
  cp "$g/message.dat" "$tmp/message.dat.patched"
  rm -f "$g/message.str~undo1"
  case $kept in
    "a folder") mkdir "$g/message.str~undo1" ;;
    "a pipe") mkfifo "$g/message.str~undo1" ;;
  esac
  unpatch "kept file $kept" 1 "message.str"
  cmp -s "$g/message.dat" "$tmp/message.dat.patched" || fail "kept file $kept: message.dat was taken back alone"
done

finish
