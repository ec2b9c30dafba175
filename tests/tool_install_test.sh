#!/usr/bin/env bash
# dravo install: the headless installer's outcomes and exit statuses on the demo game, with a
# patch stamped into the test template program.
# Usage: tool_install_test.sh DRAVO TEMPLATE
set -u
dravo=$1
template=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A copy of its own: the tool opens files without sharing, as the game does, so another test
# reading the same template at the same moment would make this one fail "in use".
cp "$template" "$tmp/template" && template=$tmp/template
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() {  # check NAME EXPECTED-STATUS COMMAND...
  local name=$1 want=$2; shift 2
  "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
  local got=$?
  [ "$got" = "$want" ] || { fail "$name: exit $got, expected $want"; cat "$tmp/out" "$tmp/err"; return 1; }
}
last_line_is() { [ "$(tail -1 "$tmp/out")" = "$2" ] || { fail "$1: last line '$(tail -1 "$tmp/out")'"; }; }

DRAVO_DEMO_WORLD_KIB=64 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/game" "$tmp/patch" >/dev/null || exit 1
"$dravo" pack build --template "$template" --out "$tmp/patch.bin" "$tmp"/patch/* >/dev/null || exit 1
fresh() { rm -rf "$tmp/g" && cp -r "$tmp/game" "$tmp/g"; }

fresh
check no-terminal 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin"
diff -r -x DravoPatch.log "$tmp/game" "$tmp/g" >/dev/null || fail "no-terminal: the game directory changed"

fresh
check install 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes && {
  last_line_is install "Dravo patch completed."
  grep -q '^Install Patch DRAVO\.\.\.$' "$tmp/out" || fail "install: no install phase"
  grep -q '^Change hero files \.\.\.$' "$tmp/out" || fail "install: no progress text"
  "$dravo" container extract "$tmp/g/Data/dravo.mul" hero "$tmp/hero.out" && cmp -s "$tmp/hero.out" "$tmp/patch/newhero.bin" ||
    fail "install: the member was not replaced"
  "$dravo" msg show "$tmp/g" 2 | grep -q 'fair price' || fail "install: message 2 was not replaced"
  "$dravo" msg show "$tmp/g" 4 | grep -q 'new message' || fail "install: the tables were not rebuilt"
  [ "$(head -c 2 "$tmp/g/message.dat")" = "02" ] || fail "install: message.dat not tagged"
}
# The same patch again is refused, by its digest, as long as its install stands: by the journal,
# and by the log once the journals were removed; nothing changes, and a dry run says the same.
# Taken back, it installs again; --reinstall installs it anyway (the rebuild is tagged, the
# member replaced again, the message added again, so it completes).
snapshot() { (cd "$tmp/g" && find . -type f ! -name DravoPatch.log -exec cksum {} + | sort); }
for how in journal dry-run log; do
  [ $how = log ] && mv "$tmp/g/DravoPatch.undo" "$tmp/undo-away"
  snapshot >"$tmp/before"
  case $how in
    journal) check again-$how 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes ;;
    dry-run) check again-$how 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --dry-run ;;
    log) check again-$how 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes ;;
  esac && {
    grep -qx 'This patch is already installed.' "$tmp/out" || fail "again-$how: not refused as installed"
    grep -q "^dravo: $tmp/g: This patch is already installed\. .*--reinstall" "$tmp/err" || fail "again-$how: stderr $(cat "$tmp/err")"
    snapshot | cmp -s - "$tmp/before" || fail "again-$how: the game changed"
  }
done
mv "$tmp/undo-away" "$tmp/g/DravoPatch.undo"
check reinstall 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes --reinstall &&
  last_line_is reinstall "Dravo patch completed."
check undone-twice 0 sh -c "'$dravo' unpatch --game-dir '$tmp/g' && '$dravo' unpatch --game-dir '$tmp/g'"
check after-undo 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes && last_line_is after-undo "Dravo patch completed."

# A work item that cannot be applied is not reported as success.
fresh
mkdir -p "$tmp/bad" && cp "$tmp"/patch/* "$tmp/bad/"
sed -i 's/^0 newhero.bin hero/0 missing.bin hero/' "$tmp/bad/patch.ini"
"$dravo" pack build --template "$template" --out "$tmp/bad.bin" "$tmp"/bad/* >/dev/null || exit 1
check failed-item 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/bad.bin" --yes && {
  grep -q 'cannot be done' "$tmp/out" || fail "failed-item: no failure text"
  grep -q '^0 missing.bin hero: cannot open the new data missing.bin: ' "$tmp/out" || fail "failed-item: the item is not named"
  ! grep -q 'Dravo patch completed' "$tmp/out" || fail "failed-item: reported as completed"
  grep -q '^Nothing was changed' "$tmp/out" || fail "failed-item: does not say that nothing was changed"
  # The other items ran before the failure came; all of it was rolled back.
  diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$tmp/g" >/dev/null || fail "failed-item: the game changed"
}

# unpatch gives back the game as it was, byte for byte, after each kind of work item alone,
# and after the whole patch installed twice (installs are taken back newest first).
same_as_old() { diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$tmp/g" >/dev/null && [ -z "$(ls -A "$tmp/g/DravoPatch.undo")" ]; }
for kind in 0 1 2; do
  rm -rf "$tmp/k$kind" && cp -r "$tmp/patch" "$tmp/k$kind"
  awk -v k="$kind" '/^\[work\]/ {on = 1; print; next} on && /^[012] / {keep = (substr($0, 1, 1) == k)} !on || keep' \
    "$tmp/patch/patch.ini" >"$tmp/k$kind/patch.ini"
  "$dravo" pack build --template "$template" --out "$tmp/k$kind.bin" "$tmp/k$kind"/* >/dev/null || exit 1
  fresh
  check "kind$kind-install" 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/k$kind.bin" --yes || continue
  check "kind$kind-unpatch" 0 "$dravo" unpatch --game-dir "$tmp/g" && { same_as_old || fail "kind$kind-unpatch: not the old game"; }
done
fresh
check twice-1 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes
check twice-2 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes --reinstall
check twice-undo-2 0 "$dravo" unpatch --game-dir "$tmp/g" && grep -q '^Install 2 was taken back' "$tmp/out" ||
  fail "twice-undo-2: not install 2"
check twice-undo-1 0 "$dravo" unpatch --game-dir "$tmp/g" && { same_as_old || fail "twice-undo-1: not the old game"; }
check nothing-to-undo 1 "$dravo" unpatch --game-dir "$tmp/g" && grep -q 'no install to take back' "$tmp/err" ||
  fail "nothing-to-undo: no reason given"
# A file the install wrote that changed since: refused, named, and nothing restored.
fresh
check changed-install 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes
printf 'edited by hand' >>"$tmp/g/message.str"
cp -r "$tmp/g" "$tmp/g-before"
check changed-unpatch 1 "$dravo" unpatch --game-dir "$tmp/g" && {
  grep -q 'message.str changed since the install' "$tmp/err" || fail "changed-unpatch: the file is not named"
  diff -r "$tmp/g-before" "$tmp/g" >/dev/null || fail "changed-unpatch: something was changed"
}
rm -rf "$tmp/g-before"

# A container cut short (its directory points past its end) is found before anything changes.
fresh
truncate -s 30000 "$tmp/g/Data/dravo.mul"
cp -r "$tmp/g" "$tmp/g-before"
check cut-container 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes && {
  grep -q '^0 newhero.bin hero: .*the container is damaged' "$tmp/out" || fail "cut-container: the damage is not named"
  grep -q '^Nothing was changed' "$tmp/out" || fail "cut-container: does not say that nothing was changed"
  diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/g-before" "$tmp/g" >/dev/null || fail "cut-container: the game changed"
}
rm -rf "$tmp/g-before"

# One flipped byte in the carried files: refused before anything is unpacked or written.
fresh
cp "$tmp/patch.bin" "$tmp/flipped.bin"
at=$(grep -obUa 'newhero.bin' "$tmp/flipped.bin" | head -1 | cut -d: -f1)
printf '\x5a' | dd of="$tmp/flipped.bin" bs=1 seek=$((at + 30)) conv=notrunc status=none
check damaged-patch 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/flipped.bin" --yes && {
  grep -q '^The patch is damaged: download it again\.$' "$tmp/out" || fail "damaged-patch: no damage text"
  diff -r "$tmp/game" "$tmp/g" >/dev/null || fail "damaged-patch: the game directory changed"
}

# One more entry written behind the list, over the '.' fill: the list reads it as one of the
# patch's files, and the digest, which covers the whole region, refuses it before anything is
# written.
fresh
cp "$tmp/patch.bin" "$tmp/planted.bin"
first=$("$dravo" pack list "$tmp/patch.bin" | head -1 | cut -f1)
at=$(grep -obUa "$first" "$tmp/planted.bin" | head -1 | cut -d: -f1)
for size in $("$dravo" pack list "$tmp/patch.bin" | cut -f2); do at=$((at + 24 + size)); done
{ printf 'planted.txt'; head -c 9 /dev/zero; printf '\004\000\000\000evil'; } |
  dd of="$tmp/planted.bin" bs=1 seek="$at" conv=notrunc status=none
"$dravo" pack list "$tmp/planted.bin" 2>/dev/null | grep -q 'planted\.txt' || fail "planted-entry: the list does not take it in"
check planted-entry 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/planted.bin" --yes && {
  grep -q '^The patch is damaged: download it again\.$' "$tmp/out" || fail "planted-entry: no damage text"
  diff -r "$tmp/game" "$tmp/g" >/dev/null || fail "planted-entry: the game directory changed"
}

# An install killed halfway: the next recover rolls it back; a second recover has nothing to do.
fresh
cp "$tmp/g/message.str" "$tmp/g/message.str~undo1"
printf 'changed' >"$tmp/g/message.str"
printf 'new' >"$tmp/g/added.bin"
mkdir -p "$tmp/g/DravoPatch.undo" "$tmp/g/DravoPatch.stage" && printf x >"$tmp/g/DravoPatch.stage/patch.ini"
gdir="z:$(printf %s "$tmp/g" | tr / '\\')"  # the core names files in drive form
printf 'dravo journal 1\ninstall 1\nkeep\t%s\\message.str\t%s\\message.str~undo1\ncreate\t%s\\added.bin\n' \
  "$gdir" "$gdir" "$gdir" >"$tmp/g/DravoPatch.undo/install-1.journal"
check recover 0 "$dravo" recover --game-dir "$tmp/g" && {
  grep -q 'interrupted has been undone' "$tmp/out" || fail "recover: does not say what it did"
  diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$tmp/g" >/dev/null || fail "recover: the game is not the old one"
  [ -z "$(ls -A "$tmp/g/DravoPatch.undo")" ] || fail "recover: the journal is left"
}
check recover-again 0 "$dravo" recover --game-dir "$tmp/g" && grep -q '^Nothing to recover' "$tmp/out" ||
  fail "recover-again: not 'Nothing to recover'"
printf 'dravo journal 1\ninstall 1\nbogus line\n' >"$tmp/g/DravoPatch.undo/install-1.journal"
check recover-damaged 1 "$dravo" recover --game-dir "$tmp/g" && grep -q 'journal is damaged' "$tmp/err" ||
  fail "recover-damaged: the damage is not named"
check recover-usage 2 "$dravo" recover
# The second version of the journal records each kept file's size and digest: a kept file cut
# short after the crash is named, nothing is put back, and recover exits 1; whole, it is put back.
fresh
size=$(stat -c %s "$tmp/g/message.str")
sum=$(sha256sum "$tmp/g/message.str" | cut -d' ' -f1)
cp "$tmp/g/message.str" "$tmp/kept"
head -c 10 "$tmp/kept" >"$tmp/g/message.str~undo1"
printf 'changed' >"$tmp/g/message.str"
mkdir -p "$tmp/g/DravoPatch.undo"
printf 'dravo journal 2\ninstall 1\nkeep\t%s\\message.str\t%s\\message.str~undo1\t%s\t%s\n' \
  "$gdir" "$gdir" "$size" "$sum" >"$tmp/g/DravoPatch.undo/install-1.journal"
check recover-cut-kept 1 "$dravo" recover --game-dir "$tmp/g" && {
  grep -q 'message\.str~undo1 holds 10 bytes' "$tmp/err" || fail "recover-cut-kept: the kept file is not named"
  [ "$(cat "$tmp/g/message.str")" = changed ] || fail "recover-cut-kept: a damaged kept file was put back"
}
cp "$tmp/kept" "$tmp/g/message.str~undo1"
check recover-kept 0 "$dravo" recover --game-dir "$tmp/g" &&
  { cmp -s "$tmp/kept" "$tmp/g/message.str" || fail "recover-kept: the old file is not back"; }
rm -rf "$tmp/g/DravoPatch.undo"
check recover-nothing 0 "$dravo" recover --game-dir "$tmp/g" && last_line_is recover-nothing "Nothing to recover."


# Without --patch nothing is unpacked: patch.ini and patch.dat come from the current directory.
fresh
# The HD directory must then be named, before the [path] section that refers to it.
{ printf '[dirhd]\r\nz:%s\r\n' "$(echo "$tmp/g" | tr / '\\')"; cat "$tmp/game/Dravo.ini"; } >"$tmp/g/Dravo.ini"
check template 0 sh -c "cd '$tmp/patch' && '$dravo' install --game-dir '$tmp/g' --yes" && last_line_is template "Dravo patch completed."
[ ! -f "$tmp/g/patch.ini" ] || fail "template: files were unpacked"

check not-found 1 "$dravo" install --game-dir "$tmp/nowhere" --patch "$tmp/patch.bin" --yes && last_line_is not-found "Dravo not found."

# Found through its shortcut in a Wine prefix, in folders whose names are beyond ASCII: UTF-8
# on disk, the Windows code page of the locale in the shortcut (written by Wine's shell) and in
# the game's Dravo.ini.
prefix=$tmp/prefix
menu='ProgramData/Microsoft/Windows/Start Menu/Programs'
mkdir -p "$prefix/dosdevices" "$prefix/drive_c/$menu" "$prefix/drive_c/Games" "$prefix/drive_c/Игры"
ln -s ../drive_c "$prefix/dosdevices/c:"
in_prefix() { env -u LC_ALL -u LC_CTYPE -u DRAVO_CODEPAGE WINEPREFIX="$prefix" "$@"; }
installs_in() {  # installs_in NAME GAME-DIR SHORTCUT LOCALE
  cp -r "$tmp/game" "$2"
  cp "$root/tests/data/shell_link/$3" "$prefix/drive_c/$menu/Dravo.lnk"
  check "$1" 0 in_prefix LANG="$4" "$dravo" install --patch "$tmp/patch.bin" --yes && {
    last_line_is "$1" "Dravo patch completed."
    in_prefix LANG="$4" "$dravo" container extract "$2/Data/dravo.mul" hero "$tmp/hero.out" && cmp -s "$tmp/hero.out" "$tmp/patch/newhero.bin" ||
      fail "$1: the member was not replaced"
  }
}
installs_in accented "$prefix/drive_c/Games/Drávo" accented_cp1252.lnk C.UTF-8
installs_in cyrillic "$prefix/drive_c/Игры/Драво" cyrillic_cp1251.lnk ru_RU.UTF-8
# The HD directory as the game's own Dravo.ini names it, in Windows-1252, and the game
# directory as the user types it.
{ printf '[dirhd]\r\nc:\\Games\\Dr\341vo\\\r\n'; cat "$tmp/game/Dravo.ini"; } >"$prefix/drive_c/Games/Drávo/Dravo.ini"
check accented-files 0 in_prefix LANG=C.UTF-8 "$dravo" files --game-dir "$prefix/drive_c/Games/Drávo" hero &&
  { grep -q $'^hero\t1\t' "$tmp/out" || fail "accented-files: $(cat "$tmp/out")"; }
# A game not found says why on stderr, "dravo: PATH: REASON"; the output still ends with the
# outcome. A folder that has an install log gets the reason there too.
game=$prefix/drive_c/Games/Drávo
link=$prefix/drive_c/$menu/Dravo.lnk
cp "$root/tests/data/shell_link/accented_cp1252.lnk" "$link"
for cause in no-ini missing-folder no-shortcut; do
  case $cause in
    no-ini) mv "$game/Dravo.ini" "$tmp/Dravo.ini"; want="$game: no Dravo.ini in this folder" ;;
    missing-folder) mv "$tmp/Dravo.ini" "$game/" && mv "$game" "$tmp/away"
      want="$link: it points into $game, a folder that is not there" ;;
    no-shortcut) rm "$link"
      want="$prefix/drive_c/$menu: no Dravo.lnk below this folder" ;;
  esac
  check "$cause" 1 in_prefix LANG=C.UTF-8 "$dravo" install --patch "$tmp/patch.bin" --yes && {
    last_line_is "$cause" "Dravo not found."
    [ "$(cat "$tmp/err")" = "dravo: $want" ] || fail "$cause: stderr '$(cat "$tmp/err")'"
  }
done
# The log is in the game's code page: the folder's name is not UTF-8 there.
LC_ALL=C grep -q '^not found: .*/Games/Dr.vo: no Dravo.ini in this folder$' "$tmp/away/DravoPatch.log" ||
  fail "no-ini: not in the install log"

check not-a-patch 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/game/multigen.dat" --yes
check usage 2 "$dravo" install --bogus

# Each step before the question names its own problem; "Dravo not found." is for a missing game.
truncate -s 100G "$tmp/huge.exe"
check huge-patch 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/huge.exe" --yes &&
  grep -q 'huge.exe: too large: 107374182400 bytes' "$tmp/err" || fail "huge-patch: no size message"
check template-patch 1 "$dravo" install --game-dir "$tmp/g" --patch "$template" --yes &&
  grep -q 'carries no patch' "$tmp/err" || fail "template-patch: not refused as carrying no patch"

fresh
rm "$tmp/g/multigen.dat"
check no-multigen 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes &&
  last_line_is no-multigen "The game is incomplete: $tmp/g/multigen.dat is missing."

# Patches built from the demo patch's files with one thing changed.
variant() {  # variant NAME PATCH.INI-TEXT FILE...: stamps the files into $tmp/NAME.bin
  local name=$1 ini=$2; shift 2
  mkdir -p "$tmp/$name" && printf '%b' "$ini" >"$tmp/$name/patch.ini"
  "$dravo" pack build --template "$template" --out "$tmp/$name.bin" "$tmp/$name/patch.ini" "$@" >/dev/null || exit 1
}
variant no-dat '[work]\r\n0 newhero.bin hero\r\n' "$tmp/patch/newhero.bin"
variant garbage '\x01\x02 nothing here\r\n0 newhero.bin hero\r\n' "$tmp/patch/patch.dat" "$tmp/patch/newhero.bin"
variant no-work '[work]\r\n' "$tmp/patch/patch.dat"
variant files-only '[work]\r\n' "$tmp/patch/patch.dat" "$tmp/patch/newhero.bin"
for c in "no-dat|The patch is damaged: it carries no patch.dat." \
         "garbage|The patch is damaged: patch.ini has no [work] section." \
         "no-work|The patch is damaged: patch.ini lists no work item, and the patch carries no file to install besides patch.ini and patch.dat."; do
  fresh
  check "${c%%|*}" 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/${c%%|*}.bin" --yes &&
    last_line_is "${c%%|*}" "Download the patch again." &&
    { grep -qxF "${c#*|}" "$tmp/out" || fail "${c%%|*}: no damage text"; }
done
fresh
check files-only 0 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/files-only.bin" --yes &&
  last_line_is files-only "Dravo patch completed." && cmp -s "$tmp/g/newhero.bin" "$tmp/patch/newhero.bin" ||
  fail "files-only: the carried file was not installed"

# Message tables that exist but cannot be written make their items fail: never "completed".
fresh
chmod 0444 "$tmp/g/message.dat"
cp "$tmp/g/message.dat" "$tmp/dat.orig"
check read-only-tables 1 "$dravo" install --game-dir "$tmp/g" --patch "$tmp/patch.bin" --yes && {
  ! grep -q 'Dravo patch completed' "$tmp/out" || fail "read-only-tables: reported as completed"
  grep -q '^1 ' "$tmp/out" && grep -q '^2 ' "$tmp/out" || fail "read-only-tables: the message items are not named"
  grep -q '^Make .*message\.dat writable, then run the patch again\.$' "$tmp/out" || fail "read-only-tables: no advice"
  cmp -s "$tmp/dat.orig" "$tmp/g/message.dat" || fail "read-only-tables: message.dat changed"
}

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
