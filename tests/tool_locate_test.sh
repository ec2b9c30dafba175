#!/usr/bin/env bash
# The dravo tool's "locate" command: it finds the game's shortcut Dravo.lnk in the Start menu
# of a Wine prefix, or below its Windows directory, and prints the game directory.
# Usage: tool_locate_test.sh DRAVO                          (native: a prefix laid out here, with
#                                                           a shortcut that Wine's shell wrote)
#        tool_locate_test.sh DRAVO.EXE EMULATOR MAKE_SHORTCUT.EXE
#                                                          (a scratch prefix in which Wine's shell
#                                                           writes the shortcuts; the native tool
#                                                           reads them too when it has been built)
set -u
dravo=$1
emu=${2:-}
make_shortcut=${3:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tmp=$(mktemp -d)
failures=0

fail_check() { echo "FAIL $1"; failures=$((failures + 1)); }
check() {  # check NAME EXPECTED-STATUS COMMAND...
  local name=$1 want=$2; shift 2
  "$@" >"$tmp/out" 2>"$tmp/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    fail_check "$name: exit $got, expected $want"; cat "$tmp/out" "$tmp/err"
    return 1
  fi
}
expect_out() {  # expect_out NAME TEXT: the one line printed
  local got
  got=$(tr -d '\r' <"$tmp/out")
  [ "$got" = "$2" ] || fail_check "$1: printed '$got', expected '$2'"
}

prefix=$tmp/prefix
menu='ProgramData/Microsoft/Windows/Start Menu/Programs'
user_menu="users/${USER:-root}/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"

if [ -z "$emu" ]; then
  trap 'rm -rf "$tmp"' EXIT
  mkdir -p "$prefix/dosdevices" "$prefix/drive_c/windows/system32" "$prefix/drive_c/$menu/Dravo" \
    "$prefix/drive_c/Games/Dravo" "$prefix/drive_c/$user_menu"
  ln -s ../drive_c "$prefix/dosdevices/c:"
  : >"$prefix/drive_c/Games/Dravo/DRAVO.EXE"
  link="$prefix/drive_c/$menu/Dravo/Dravo.lnk"
  cp "$here/data/shell_link/start_menu.lnk" "$link"   # C:\Games\Dravo\DRAVO.EXE, written by Wine
  locate() { WINEPREFIX=$prefix "$dravo" locate "$@"; }

  check start-menu 0 locate && expect_out start-menu 'c:\Games\Dravo\'
  mv "$link" "$prefix/drive_c/$user_menu/dravo.LNK"   # names match without regard to case
  check user-start-menu 0 locate && expect_out user-start-menu 'c:\Games\Dravo\'
  mkdir -p "$prefix/drive_c/windows/Start Menu/Programs"
  mv "$prefix/drive_c/$user_menu/dravo.LNK" "$prefix/drive_c/windows/Start Menu/Programs/Dravo.lnk"
  check windows-dir 0 locate -v && expect_out windows-dir 'c:\Games\Dravo\' &&
    { grep -q 'windows' "$tmp/err" || fail_check "windows-dir: shortcut not below the Windows directory"; }
  mkdir -p "$tmp/elsewhere/deep/er"
  mv "$prefix/drive_c/windows/Start Menu/Programs/Dravo.lnk" "$tmp/elsewhere/deep/er/"
  check not-found 1 locate && { grep -q 'no Dravo.lnk' "$tmp/err" || fail_check "not-found: message"; }
  check option 0 locate --windows-dir "$tmp/elsewhere" && expect_out option 'c:\Games\Dravo\'
  head -c 100 "$here/data/shell_link/start_menu.lnk" >"$tmp/elsewhere/deep/er/Dravo.lnk"
  check damaged 1 locate --windows-dir "$tmp/elsewhere" && { grep -q 'cannot be resolved' "$tmp/err" || fail_check "damaged: message"; }

  # Folder names beyond ASCII: on disk in UTF-8, as Wine keeps them; in the shortcuts (written
  # by Wine's shell) in the Windows code page of the locale. The tool shows them in UTF-8.
  intl=$tmp/intl
  mkdir -p "$intl/dosdevices" "$intl/drive_c/$menu" "$intl/drive_c/Games/Drávo" "$intl/drive_c/Игры/Драво"
  ln -s ../drive_c "$intl/dosdevices/c:"
  : >"$intl/drive_c/Games/Drávo/DRAVO.EXE"
  : >"$intl/drive_c/Игры/Драво/DRAVO.EXE"
  in_locale() { env -u LC_ALL -u LC_CTYPE -u DRAVO_CODEPAGE WINEPREFIX="$intl" "$@"; }
  cp "$here/data/shell_link/accented_cp1252.lnk" "$intl/drive_c/$menu/Dravo.lnk"  # C:\Games\Drávo\DRAVO.EXE
  check accented 0 in_locale LANG=C.UTF-8 "$dravo" locate && expect_out accented 'c:\Games\Drávo\'
  check accented-verbose 0 in_locale LANG=de_DE.UTF-8 "$dravo" locate -v &&
    { grep -qx 'target: c:\\Games\\Drávo\\DRAVO.EXE' "$tmp/err" || fail_check "accented-verbose: $(cat "$tmp/err")"; }
  mv "$intl/drive_c/Games/Drávo" "$intl/drive_c/Games/DRáVO"  # the ASCII letters matched without regard to case
  check accented-case 0 in_locale LANG=C.UTF-8 "$dravo" locate && expect_out accented-case 'c:\Games\DRáVO\'
  rm "$intl/drive_c/$menu/Dravo.lnk"
  # In a Start menu folder of Cyrillic name too: the search goes through it.
  mkdir -p "$intl/drive_c/$menu/Игры"
  cp "$here/data/shell_link/cyrillic_cp1251.lnk" "$intl/drive_c/$menu/Игры/Dravo.lnk"  # C:\Игры\Драво\DRAVO.EXE
  check cyrillic-locale 0 in_locale LANG=ru_RU.UTF-8 "$dravo" locate && expect_out cyrillic-locale 'c:\Игры\Драво\'
  check cyrillic-override 0 in_locale LANG=C.UTF-8 DRAVO_CODEPAGE=1251 "$dravo" locate &&
    expect_out cyrillic-override 'c:\Игры\Драво\'
  # Under Windows-1252 the Cyrillic folder cannot be named: passed over, not mistaken.
  check cyrillic-other-code-page 1 in_locale LANG=C.UTF-8 "$dravo" locate &&
    { grep -q 'no Dravo.lnk' "$tmp/err" || fail_check "cyrillic-other-code-page: $(cat "$tmp/err")"; }
else
  # A scratch prefix: a copy of the project's clean one of the tool's kind (32-bit or 64-bit)
  # when it exists (1 s), else a new one.
  . "$here/../scripts/lib/windows-build.sh"
  win_wine_for "$dravo"
  source_prefix=$WIN_PREFIX
  trap 'WINEPREFIX=$prefix timeout 20 wineserver -k 2>/dev/null; rm -rf "$tmp"' EXIT
  # The lock is the one scripts/wine-run holds while it creates the prefix.
  if [ -f "$source_prefix/system.reg" ]; then
    ( flock -w 120 9 && cp -a "$source_prefix" "$prefix" ) 9>"$source_prefix.lock"
  fi
  export DRAVO_WINEPREFIX=$prefix
  wine() { timeout 120 "$emu" "$@"; }
  game='C:\Program Files\Dravo Adventure Game'
  # The shell does not make the folders of a shortcut it saves.
  mkdir -p "$prefix/drive_c/Program Files/Dravo Adventure Game" "$prefix/drive_c/$menu/Dravo" \
    "$prefix/drive_c/windows/Start Menu/Programs"
  : >"$prefix/drive_c/Program Files/Dravo Adventure Game/Dravo Game.exe"
  check make-shortcut 0 wine "$make_shortcut" 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Dravo\Dravo.lnk' \
    "$game\\Dravo Game.exe" 'Play Dravo' "$game"
  # The Win32 side: SHGetFolderPathA, SearchTreeForFile, IShellLinkA. Wine gives the long
  # form where Windows gives the short one.
  check start-menu 0 wine "$dravo" locate &&
    { tr -d '\r' <"$tmp/out" | grep -Eqi '^C:\\(Program Files|PROGRA~1)\\(Dravo Adventure Game|DRAVOA~1)\\$' ||
      fail_check "start-menu: printed $(cat "$tmp/out")"; }
  native=${DRAVO_NATIVE_TOOL:-$here/../build/native/dravo}
  if [ -x "$native" ]; then   # the portable reader on the file Wine's shell just wrote
    check native-reader 0 env WINEPREFIX="$prefix" "$native" locate &&
      expect_out native-reader 'c:\Program Files\Dravo Adventure Game\'
  fi
  rm -f "$prefix/drive_c/$menu/Dravo/Dravo.lnk"
  # A folder name beyond ASCII, which the shell writes in the code page (Windows-1252 here).
  mkdir -p "$prefix/drive_c/Games/Drávo"
  : >"$prefix/drive_c/Games/Drávo/DRAVO.EXE"
  check make-accented-shortcut 0 env LANG=C.UTF-8 LC_ALL= timeout 120 "$emu" "$make_shortcut" \
    'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Dravo\Dravo.lnk' 'C:\Games\Drávo\DRAVO.EXE'
  check accented 0 env LANG=C.UTF-8 LC_ALL= timeout 120 "$emu" "$dravo" locate &&
    { tr -d '\r' <"$tmp/out" | iconv -f CP1252 -t UTF-8 | grep -Eqi '^C:\\Games\\(Drávo|[^\\]+~[0-9])\\$' ||
      fail_check "accented: printed $(cat "$tmp/out")"; }
  if [ -x "$native" ]; then
    check native-accented 0 env -u LC_ALL -u LC_CTYPE -u DRAVO_CODEPAGE LANG=C.UTF-8 WINEPREFIX="$prefix" "$native" locate &&
      expect_out native-accented 'c:\Games\Drávo\'
  fi
  rm -f "$prefix/drive_c/$menu/Dravo/Dravo.lnk"
  check not-found 1 wine "$dravo" locate
  check make-old-shortcut 0 wine "$make_shortcut" 'C:\windows\Start Menu\Programs\Dravo.lnk' "$game\\Dravo Game.exe"
  check windows-dir 0 wine "$dravo" locate && { tr -d '\r' <"$tmp/out" | grep -q 'Dravo\|DRAVOA~1' || fail_check "windows-dir"; }
fi

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
