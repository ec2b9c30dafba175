#!/usr/bin/env bash
# End-to-end tests of DravoPatch.exe under Wine and Xvfb, driven with xdotool as a user would,
# each in a fresh scratch prefix with the game installed and its shortcut made by Wine's own
# shell. WINDOWS_BUILD is the 32-bit build (32-bit Wine), or the 64-bit one (64-bit Wine) on a
# machine that cannot run 32-bit programs. Screenshots go to WINDOWS_BUILD/e2e/.
# Usage: e2e_installer.sh WINDOWS_BUILD NATIVE_DRAVO
. "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

# What the headless install makes of the same inputs, natively.
cp -r "$tmp/game" "$tmp/expected"
"$dravo" install --game-dir "$tmp/expected" --patch "$tmp/Patch.exe" --yes >"$tmp/expected.log" 2>&1 ||
  { cat "$tmp/expected.log"; echo "the headless install failed"; exit 1; }

# setup NAME LINK_FOLDER [GAME]: a prefix with the game (GAME, else the demo game) in
# C:\Games\Dravo Game (a long name, so that the shortcut resolves to a short one) and, unless
# LINK_FOLDER is empty, its shortcut there.
setup() {
  prefix=$tmp/prefix-$1
  gui_new_prefix "$prefix"
  gamedir="$prefix/drive_c/Games/Dravo Game"
  mkdir -p "$prefix/drive_c/Games" && cp -r "${3:-$tmp/game}" "$gamedir"
  if [ -n "$2" ]; then
    mkdir -p "$prefix/drive_c/$(echo "$2" | tr '\\' '/')"
    gui_make_shortcut "$prefix" "C:\\$2\\Dravo.lnk" 'C:\Games\Dravo Game\Dravo.exe' || fail "$1: make_shortcut"
  fi
}

# The installer ships without the symbols and debug information of the static runtime
# libraries, 0.8 MB more in every patch; a Debug build keeps them.
# The build's own objdump, which reads its kind of program.
objdump=$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "$win/CMakeCache.txt")
if ! sections=$("${objdump:-objdump}" -h "$win/DravoPatch.exe"); then
  fail "cannot read the sections of DravoPatch.exe"
elif ! grep -qx 'CMAKE_BUILD_TYPE:STRING=Debug' "$win/CMakeCache.txt" && grep -q '\.debug_' <<<"$sections"; then
  fail "DravoPatch.exe carries debug information"
fi

gui_start_display || exit 1

echo "== scenario: shortcut below the Windows directory, OK"
setup windir 'windows\Start Menu\Programs'
gui_run_installer "$prefix" "$tmp/Patch.exe" ok windir
[ "$GUI_STATUS" = 0 ] || fail "windir: exit status $GUI_STATUS"
[ "$GUI_FINAL" = "My congratulations!" ] || fail "windir: final box '$GUI_FINAL'"
# The journals name each game folder's own paths; the rest must be the same byte for byte.
diff -r -x DravoPatch.log -x '*.journal' "$tmp/expected" "$gamedir" >"$tmp/diff" || { fail "windir: the game differs from the headless install"; cat "$tmp/diff"; }
[ -f "$gamedir/DravoPatch.undo/install-1.journal" ] || fail "windir: no journal of the install"

echo "== scenario: Cancel"
setup cancel 'windows\Start Menu\Programs'
gui_run_installer "$prefix" "$tmp/Patch.exe" cancel cancel
[ "$GUI_STATUS" = 3 ] || fail "cancel: exit status $GUI_STATUS, not 3"
[ -z "$GUI_FINAL" ] || fail "cancel: a final box '$GUI_FINAL'"
[ ! -e "$gamedir/patch.ini" ] || fail "cancel: the patch's files were installed"
[ ! -e "$gamedir/DravoPatch.stage" ] || fail "cancel: the unpacked files were left behind"
diff -r "$tmp/game" "$gamedir" >/dev/null || fail "cancel: the game directory changed"
cmp -s "$tmp/game/Data/dravo.mul" "$gamedir/Data/dravo.mul" || fail "cancel: the container changed"
cmp -s "$tmp/game/message.dat" "$gamedir/message.dat" || fail "cancel: the message tables changed"

echo "== scenario: no shortcut"
setup noshortcut ''
gui_run_installer "$prefix" "$tmp/Patch.exe" ok noshortcut
[ "$GUI_STATUS" = 1 ] || fail "noshortcut: exit status $GUI_STATUS, not 1"
[ "$GUI_FINAL" = "Patch search error." ] || fail "noshortcut: final box '$GUI_FINAL'"
grep -q 'Dravo not found\.' "$GUI_SHOTS/noshortcut-final.txt" 2>/dev/null || fail "noshortcut: no 'Dravo not found.'"
diff -r -x DravoPatch.log "$tmp/game" "$gamedir" >/dev/null || fail "noshortcut: the game directory changed"

echo "== scenario: shortcut only in the Start menu of a current system"
setup startmenu 'ProgramData\Microsoft\Windows\Start Menu\Programs'
gui_run_installer "$prefix" "$tmp/Patch.exe" ok startmenu
[ "$GUI_STATUS" = 0 ] || fail "startmenu: exit status $GUI_STATUS"
[ "$GUI_FINAL" = "My congratulations!" ] || fail "startmenu: final box '$GUI_FINAL'"
diff -r -x DravoPatch.log -x '*.journal' "$tmp/expected" "$gamedir" >/dev/null || fail "startmenu: the game differs from the headless install"

echo "== scenario: a work item fails: the box says so, nothing was changed, exit status 1"
mkdir -p "$tmp/badpatch" && cp "$tmp"/patch/* "$tmp/badpatch/"
sed -i 's/^0 newhero.bin hero/0 missing.bin hero/' "$tmp/badpatch/patch.ini"
"$dravo" pack build --template "$win/DravoPatch.exe" --out "$tmp/BadPatch.exe" "$tmp"/badpatch/* >/dev/null ||
  fail "failing: cannot stamp the patch"
setup failing 'windows\Start Menu\Programs'
gui_run_installer "$prefix" "$tmp/BadPatch.exe" ok failing
[ "$GUI_STATUS" = 1 ] || fail "failing: exit status $GUI_STATUS, not 1"
[ "$GUI_FINAL" = "Patch install error." ] || fail "failing: final box '$GUI_FINAL'"
grep -q 'cannot be done' "$GUI_SHOTS/failing-final.txt" 2>/dev/null || fail "failing: the box does not name the failure"
diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$gamedir" >/dev/null || fail "failing: the game changed"
[ ! -e "$gamedir/DravoPatch.stage" ] || fail "failing: the unpacked files were left behind"
rm -rf "$prefix"

echo "== scenario: a damaged patch is refused before anything is written"
cp "$tmp/Patch.exe" "$tmp/Damaged.exe"
at=$(grep -obUa 'newhero.bin' "$tmp/Damaged.exe" | head -1 | cut -d: -f1)
printf '\x5a' | dd of="$tmp/Damaged.exe" bs=1 seek=$((at + 30)) conv=notrunc status=none
setup damaged 'windows\Start Menu\Programs'
gui_run_installer "$prefix" "$tmp/Damaged.exe" ok damaged
[ "$GUI_STATUS" = 1 ] || fail "damaged: exit status $GUI_STATUS, not 1"
[ "$GUI_FINAL" = "Patch install error." ] || fail "damaged: final box '$GUI_FINAL'"
grep -q 'The patch is damaged' "$GUI_SHOTS/damaged-final.txt" 2>/dev/null || fail "damaged: the box does not say so"
diff -r "$tmp/game" "$gamedir" >/dev/null || fail "damaged: the game directory changed"
rm -rf "$prefix"

# silent PREFIX OUT ARGS...: runs the installer with no display at all; sets rc.
silent() {
  local p=$1 out=$2
  shift 2
  DISPLAY= gui_wine "$p" "$@" >"$out.out" 2>"$out.err"
  rc=$?
  WINEPREFIX=$p wineserver -w 2>/dev/null || true
}
game_arg='/D=C:\Games\Dravo Game'

echo "== scenario: /D= names a game that has no shortcut; unknown arguments are ignored"
setup dswitch ''
GUI_ARGS=(extra "$game_arg" /X)
gui_run_installer "$prefix" "$tmp/Patch.exe" ok dswitch
unset GUI_ARGS
[ "$GUI_STATUS" = 0 ] || fail "dswitch: exit status $GUI_STATUS"
diff -r -x DravoPatch.log -x '*.journal' "$tmp/expected" "$gamedir" >/dev/null || fail "dswitch: the game differs from the headless install"
rm -rf "$prefix"

echo "== scenario: /S installs with no window and no display, and /LOG copies the log"
setup silent ''
silent "$prefix" "$tmp/silent" "$tmp/Patch.exe" /s "$game_arg" '/LOG=C:\patch.log'
[ "$rc" = 0 ] || { fail "silent: exit status $rc"; cat "$tmp/silent.err"; }
diff -r -x DravoPatch.log -x '*.journal' "$tmp/expected" "$gamedir" >/dev/null || fail "silent: the game differs from the headless install"
grep -q 'Dravo patch completed\.' "$prefix/drive_c/patch.log" || fail "silent: the log copy lacks the outcome"
silent "$prefix" "$tmp/silent-help" "$tmp/Patch.exe" /S '/?'
[ "$rc" = 0 ] && grep -q '/UNDO=N' "$tmp/silent-help.out" || fail "silent: /? listed no switches ($rc)"
silent "$prefix" "$tmp/silent-usage" "$tmp/Patch.exe" /S '/D='
[ "$rc" = 2 ] && grep -q '^/D=: ' "$tmp/silent-usage.err" || fail "silent: /D= with nothing after it: exit status $rc"
silent "$prefix" "$tmp/silent-nogame" "$tmp/Patch.exe" /S '/D=C:\Games' '/LOG=C:\nogame.log'
[ "$rc" = 1 ] && grep -q 'holds no Dravo.ini' "$tmp/silent-nogame.err" || fail "silent: a folder without the game: exit status $rc"
grep -q 'not found: .*holds no Dravo.ini' "$prefix/drive_c/nogame.log" || fail "silent: the log copy does not say why the game was not found"
echo "== scenario: the undo, silent, gives the game back byte for byte"
silent "$prefix" "$tmp/silent-undo" "$tmp/Patch.exe" /S /UNDO "$game_arg"
[ "$rc" = 0 ] || { fail "silent undo: exit status $rc"; cat "$tmp/silent-undo.err"; }
diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$gamedir" >/dev/null || fail "silent undo: the game is not the old one"
rm -rf "$prefix"

echo "== scenario: a failing silent install exits 1 and changes nothing; with no display and no /S, exit 1"
setup silentfail ''
silent "$prefix" "$tmp/silentfail" "$tmp/BadPatch.exe" /S "$game_arg"
[ "$rc" = 1 ] || fail "silentfail: exit status $rc, not 1"
grep -q 'Patch install error\.' "$tmp/silentfail.err" || fail "silentfail: standard error does not say so"
diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$gamedir" >/dev/null || fail "silentfail: the game changed"
silent "$prefix" "$tmp/nodisplay" "$tmp/Patch.exe" "$game_arg"
[ "$rc" = 1 ] && grep -q 'no window could be made' "$tmp/nodisplay.err" || fail "nodisplay: exit status $rc"
diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$gamedir" >/dev/null || fail "nodisplay: the game changed"
rm -rf "$prefix"

echo "== scenario: the installer inside the game folder, which has no shortcut"
setup beside ''
cp "$tmp/Patch.exe" "$gamedir/DravoPatch.exe"
gui_run_installer "$prefix" "$gamedir/DravoPatch.exe" ok beside
[ "$GUI_STATUS" = 0 ] || fail "beside: exit status $GUI_STATUS"
diff -r -x DravoPatch.log -x '*.journal' -x DravoPatch.exe "$tmp/expected" "$gamedir" >/dev/null || fail "beside: the game differs from the headless install"
rm -rf "$prefix"

echo "== scenario: /UNDO asks, and takes two stacked installs back newest first"
mkdir -p "$tmp/patch2" && cp "$tmp"/patch/* "$tmp/patch2/"
printf 'a second look' >>"$tmp/patch2/newhero.bin"
"$dravo" pack build --template "$win/DravoPatch.exe" --out "$tmp/Patch2.exe" "$tmp"/patch2/* >/dev/null ||
  fail "undo: cannot stamp the second patch"
setup undo 'windows\Start Menu\Programs'
silent "$prefix" "$tmp/undo-1" "$tmp/Patch.exe" /S
silent "$prefix" "$tmp/undo-2" "$tmp/Patch2.exe" /S
[ -f "$gamedir/DravoPatch.undo/install-2.journal" ] || fail "undo: the two installs did not both complete"
gui_run_undo "$prefix" "$tmp/Patch.exe" cancel undo-cancel /UNDO
[ "$GUI_STATUS" = 3 ] || fail "undo: Cancel: exit status $GUI_STATUS, not 3"
gui_run_undo "$prefix" "$tmp/Patch.exe" ok undo-older /UNDO=1
[ "$GUI_STATUS" = 1 ] && [ "$GUI_FINAL" = "Patch undo error." ] || fail "undo: install 1 before 2: $GUI_STATUS '$GUI_FINAL'"
grep -q 'Install 1 cannot be taken back before install 2, which came after it\.' "$GUI_SHOTS/undo-older-final.txt" ||
  fail "undo: the refusal does not say why"
gui_run_undo "$prefix" "$tmp/Patch.exe" ok undo-newest /UNDO=2
[ "$GUI_STATUS" = 0 ] && [ "$GUI_FINAL" = "Dravo patch" ] || fail "undo: install 2: $GUI_STATUS '$GUI_FINAL'"
grep -q 'Take back the Dravo patch 2 installed on [0-9-]* in C:' "$GUI_SHOTS/undo-newest-question.txt" || fail "undo: the question"
grep -q 'The game is as it was before\.' "$GUI_SHOTS/undo-newest-final.txt" || fail "undo: the final box"
gui_run_undo "$prefix" "$tmp/Patch.exe" ok undo-first /UNDO
[ "$GUI_STATUS" = 0 ] || fail "undo: install 1: exit status $GUI_STATUS"
diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/game" "$gamedir" >/dev/null || fail "undo: the game is not the old one"
rm -rf "$prefix"

echo "== scenario: a long install: the window is drawn and answers, and cannot be closed"
# A container large enough that the rewrite lasts some seconds under Wine.
DRAVO_DEMO_WORLD_KIB=${DRAVO_E2E_LONG_WORLD_KIB:-1048576} \
  bash "$GUI_ROOT/scripts/make-demo-game" "$dravo" "$tmp/biggame" "$tmp/bigpatch" "$GUI_TOOLS/list_windows.exe" >/dev/null ||
  { echo "cannot make the large demo game"; exit 1; }
"$dravo" pack build --template "$win/DravoPatch.exe" --out "$tmp/BigPatch.exe" "$tmp"/bigpatch/* >/dev/null ||
  { echo "cannot stamp the large patch"; exit 1; }

echo "== scenario: the installer killed while it works; the next start puts the game back"
setup killed 'windows\Start Menu\Programs' "$tmp/biggame"
kill_while_working() { sleep 1.5; WINEPREFIX=$GUI_PREFIX wineserver -k 2>/dev/null; }
GUI_WHILE_WORKING=kill_while_working
gui_run_installer "$prefix" "$tmp/BigPatch.exe" ok killed
GUI_WHILE_WORKING=
committed=0
grep -qx commit "$gamedir"/DravoPatch.undo/install-1.journal 2>/dev/null && committed=1
gui_run_installer "$prefix" "$tmp/BigPatch.exe" cancel killed-again
[ "$GUI_STATUS" = 3 ] || fail "killed: the second start's exit status $GUI_STATUS, not 3 (cancelled)"
if [ "$committed" = 1 ]; then
  echo "  (the kill came after the commit: the install was whole)"
  cmp -s "$tmp/biggame/Data/dravo.mul" "$gamedir/Data/dravo.mul~undo1" || fail "killed: the old container is not kept"
else
  grep -q 'has been undone\|have been removed' <<<"$GUI_NOTICE" || fail "killed: the second start did not say what it did: '$GUI_NOTICE'"
  diff -r -x DravoPatch.log -x DravoPatch.undo "$tmp/biggame" "$gamedir" >/dev/null || fail "killed: the game is not the old one"
  [ -z "$(ls -A "$gamedir/DravoPatch.undo" 2>/dev/null)" ] || fail "killed: a journal is left"
fi
[ ! -e "$gamedir/DravoPatch.stage" ] || fail "killed: the unpacked files were left behind"
rm -rf "$prefix"

setup long 'windows\Start Menu\Programs' "$tmp/biggame"
rm -rf "$tmp/biggame"
long_drawn=0 long_closed=0
# While the installer works: photographs the screen until a picture shows the phase text and
# the progress line as the installer draws them, which Wine puts on the screen only for a
# window that handles its messages; then presses Alt+F4 on the window.
watch_long_install() {
  local i origin x y xid
  for i in $(seq 1 100); do
    kill -0 "$GUI_PID" 2>/dev/null || return 0
    gui_shows 'title="(My congratulations!|Patch install error\.)" visible=1' && return 0
    origin=$(gui_client_origin 'Dravo patch')
    if [ -n "$origin" ]; then
      read -r x y <<<"$origin"
      import -window root "$GUI_SHOTS/long-working.png" 2>/dev/null || true
      if gui_shows_drawn_text exact "$GUI_SHOTS/long-working.png" "$x" "$y" 20 20 "Install Patch DRAVO..." &&
         gui_shows_drawn_text prefix "$GUI_SHOTS/long-working.png" "$x" "$y" 20 40 'Change hero files ...'; then
        long_drawn=1
        gui_log "screenshot $GUI_SHOTS/long-working.png shows the phase and the progress line"
        xid=$(gui_xid_by_name '^Dravo patch$')
        if [ -n "$xid" ] && kill -0 "$GUI_PID" 2>/dev/null && ! gui_shows 'title="My congratulations!"'; then
          xdotool mousemove $((x + 160)) $((y + 120)) windowfocus "$xid" key alt+F4 2>/dev/null && long_closed=1
          gui_log "pressed Alt+F4 on the working window"
        fi
        return 0
      fi
    fi
    sleep 0.2
  done
}
GUI_WHILE_WORKING=watch_long_install
gui_run_installer "$prefix" "$tmp/BigPatch.exe" ok long
GUI_WHILE_WORKING=
[ "$long_drawn" = 1 ] || fail "long: no screenshot showed \"Install Patch DRAVO...\" and the progress line"
[ "$long_closed" = 1 ] || fail "long: the install ended before Alt+F4 could be pressed; make the container larger"
[ "$GUI_STATUS" = 0 ] || fail "long: exit status $GUI_STATUS"
[ "$GUI_FINAL" = "My congratulations!" ] || fail "long: final box '$GUI_FINAL'"
"$dravo" container extract "$gamedir/Data/dravo.mul" hero "$tmp/hero.out" >/dev/null 2>&1 &&
  cmp -s "$tmp/hero.out" "$tmp/bigpatch/newhero.bin" || fail "long: the container's hero is not the patch's"
"$dravo" msg show "$gamedir" 2 2>/dev/null | grep -q 'fair price' || fail "long: message 2 is not the patch's"
rm -rf "$prefix"

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all scenarios passed; screenshots in $GUI_SHOTS"
