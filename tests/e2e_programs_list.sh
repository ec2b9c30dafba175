#!/usr/bin/env bash
# End-to-end tests of the installer's entries in Windows' list of installed programs, under
# Wine and Xvfb: an install is listed by Wine's own "uninstaller --list", its entry removed
# through "uninstaller --remove KEY" (which runs the entry's uninstall command, the kept copy
# of the installer) gives the game back byte for byte, two stacked installs come off newest
# first, and a start of the installer puts back an entry that went missing.
# Usage: e2e_programs_list.sh WINDOWS_BUILD NATIVE_DRAVO
# The line Wine lists for the first install is saved as WINDOWS_BUILD/e2e/uninstaller-list.txt.
. "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
mkdir -p "$tmp/patch2" && cp "$tmp"/patch/* "$tmp/patch2/"
printf 'a second look' >>"$tmp/patch2/newhero.bin"
"$dravo" pack build --template "$win/DravoPatch.exe" --out "$tmp/Patch2.exe" "$tmp"/patch2/* >/dev/null ||
  { echo "cannot stamp the second patch"; exit 1; }

prefix=$tmp/prefix-list
gui_new_prefix "$prefix" || { echo "cannot make a prefix"; exit 1; }
gamedir="$prefix/drive_c/Games/Dravo Game"
mkdir -p "$prefix/drive_c/Games" && cp -r "$tmp/game" "$gamedir"
copies="$prefix/drive_c/ProgramData/Dravo patch"

# The key of install N: the first 8 hex digits of the SHA-256 of the folder's long path, in
# lower case and without its trailing backslash.
hash=$(printf '%s' 'c:\games\dravo game' | sha256sum | cut -c1-8)
key1=DravoPatch-$hash-1 key2=DravoPatch-$hash-2

# Wine's own programs, run by the Wine of the installer's kind.
wine_own() { GUI_WINE_LIKE=$tmp/Patch.exe gui_wine "$prefix" "$@"; }
# The game's folder is given in its short form, as the system spells it: the entries name the
# long one.
short=$(wine_own cmd /c 'dir /x C:\Games' 2>/dev/null | tr -d '\r' | awk '/ Dravo Game$/ {print $(NF - 2)}')
WINEPREFIX=$prefix wineserver -w 2>/dev/null
case $short in
  *'~'*) short="C:\\Games\\$short" ;;
  *) fail "no short name of the game folder: '$short'"; short='C:\Games\Dravo Game' ;;
esac
echo "  the game folder given as $short"
game_arg="/D=$short"
listing() { wine_own uninstaller --list 2>/dev/null | tr -d '\r'; WINEPREFIX=$prefix wineserver -w 2>/dev/null; }
silent() {  # silent EXE ARGS...: sets rc
  DISPLAY= gui_wine "$prefix" "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
}

echo "== scenario: a silent install is listed, with its copy kept and its key in the journal"
silent "$tmp/Patch.exe" /S "$game_arg"
[ "$rc" = 0 ] || { fail "install 1: exit status $rc"; cat "$tmp/err"; }
listing >"$tmp/list1"
line=$(grep -F "$key1" "$tmp/list1")
printf '%s\n' "$line" >"$GUI_SHOTS/uninstaller-list.txt"
echo "  uninstaller --list: $line"
grep -qF 'Dravo patch 1 (C:\Games\Dravo Game)' <<<"$line" || fail "install 1: not listed: '$(cat "$tmp/list1")'"
[ -f "$copies/$key1/DravoPatch.exe" ] || fail "install 1: no copy of the installer kept"
cmp -s "$copies/$key1/DravoPatch.exe" "$tmp/Patch.exe" || fail "install 1: the copy is not the installer"
grep -qxP "entry\t$key1" "$gamedir/DravoPatch.undo/install-1.journal" || fail "install 1: the journal does not record the key"

echo "== scenario: an entry that went missing is put back by the next start"
wine_own reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key1" /f /reg:32 >/dev/null 2>&1
listing | grep -qF "$key1" && fail "repair: the entry could not be deleted for the test"
silent "$tmp/Patch.exe" /S /UNDO=9 "$game_arg"
[ "$rc" = 1 ] || fail "repair: /UNDO=9 exit status $rc, not 1"
listing | grep -qF "$key1" || fail "repair: the entry was not put back"

echo "== scenario: a second patch stacked; the older install is refused through the list"
silent "$tmp/Patch2.exe" /S "$game_arg"
[ "$rc" = 0 ] || { fail "install 2: exit status $rc"; cat "$tmp/err"; }
cp -r "$gamedir" "$tmp/after2"
listing >"$tmp/list2"
grep -qF "$key2" "$tmp/list2" && grep -qF "$key1" "$tmp/list2" || fail "install 2: both entries are not listed: '$(cat "$tmp/list2")'"
gui_start_display || exit 1
GUI_WINE_LIKE=$tmp/Patch.exe gui_run_undo "$prefix" uninstaller ok list-older --remove "$key1"
[ "$GUI_FINAL" = "Patch undo error." ] || fail "older: final box '$GUI_FINAL'"
grep -q 'Install 1 cannot be taken back before install 2, which came after it\.' "$GUI_SHOTS/list-older-final.txt" ||
  fail "older: the refusal does not say why"
diff -r -x DravoPatch.log "$tmp/after2" "$gamedir" >/dev/null || fail "older: the game changed"
listing | grep -qF "$key1" || fail "older: the entry of install 1 is gone"

echo "== scenario: removed through the list, newest first, the game comes back byte for byte"
GUI_WINE_LIKE=$tmp/Patch.exe gui_run_undo "$prefix" uninstaller ok list-newest --remove "$key2"
[ "$GUI_FINAL" = "Dravo patch" ] || fail "newest: final box '$GUI_FINAL'"
grep -q 'Take back the Dravo patch 2 installed on [0-9-]* in C:\\Games\\Dravo Game?' "$GUI_SHOTS/list-newest-question.txt" ||
  fail "newest: the question"
listing >"$tmp/list3"
grep -qF "$key2" "$tmp/list3" && fail "newest: the entry of install 2 is still listed"
grep -qF "$key1" "$tmp/list3" || fail "newest: the entry of install 1 went too"
GUI_WINE_LIKE=$tmp/Patch.exe gui_run_undo "$prefix" uninstaller ok list-first --remove "$key1"
[ "$GUI_FINAL" = "Dravo patch" ] || fail "first: final box '$GUI_FINAL'"
diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$gamedir" >"$tmp/diff" || { fail "first: the game is not the old one"; cat "$tmp/diff"; }
listing | grep -q 'DravoPatch-' && fail "first: entries are left: '$(listing)'"

echo "== scenario: the copies that ran their own undo are gone after the next start"
silent "$tmp/Patch.exe" /S /UNDO "$game_arg"
[ "$rc" = 1 ] || fail "tidy: an undo with nothing to take back: exit status $rc"
[ -z "$(ls -A "$copies" 2>/dev/null)" ] || fail "tidy: copies are left: $(ls "$copies")"

echo "== scenario: dravo.exe unpatch takes the entry and the copy with the install"
silent "$tmp/Patch.exe" /S "$game_arg"
[ "$rc" = 0 ] && listing | grep -qF "$key1" || fail "unpatch: the install was not listed ($rc)"
DISPLAY= gui_wine "$prefix" "$win/dravo.exe" unpatch --game-dir "$short" >"$tmp/out" 2>&1
rc=$?
WINEPREFIX=$prefix wineserver -w 2>/dev/null
[ "$rc" = 0 ] || { fail "unpatch: exit status $rc"; cat "$tmp/out"; }
listing | grep -qF "$key1" && fail "unpatch: the entry is still listed"
[ ! -e "$copies/$key1" ] || fail "unpatch: the copy is left"
diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$gamedir" >/dev/null || fail "unpatch: the game is not the old one"

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all scenarios passed; screenshots in $GUI_SHOTS"
