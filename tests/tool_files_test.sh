#!/usr/bin/env bash
# The dravo tool's "files" command against a small game directory, and its exit statuses.
# Usage: tool_files_test.sh DRAVO [EMULATOR]   (with an emulator, paths are given as Z:\...)
set -u
dravo=$1
emu=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/tool_test_lib.sh"

game=$tmp/Game
patch=$tmp/patchdir
mkdir -p "$game/Data" "$patch"
printf '[dircd]\r\nd:\\\r\n[dirhd]\r\n%s\r\n[path]\r\nhero                hd:data\\\r\nmusic               hd:\r\n' \
  "$(winpath "$game")" >"$game/DRAVO.INI"
record() { printf '%s' "$1"; head -c $((20 - ${#1})) /dev/zero; printf '%s' "$2"; head -c $((20 - ${#2})) /dev/zero; printf '\0%b' "$3"; }
record hero dravo.mul '\0' >"$game/multigen.dat"
: >"$game/Data/DRAVO.MUL"
printf '[path]\nextra               hd:data\\\n' >"$patch/patch.ini"
record extra dravo.mul '\001' >"$patch/patch.dat"

check version 0 run --version && expect_line version "$tmp/out" '^dravo [0-9]+\.[0-9]+'
check no-command 2 run
check unknown-command 2 run frobnicate
check files-needs-game-dir 2 run files

check table 0 run files --game-dir "$(winpath "$game")" &&
  expect_line table "$tmp/out" $'^hero\t.*game\\\\data\\\\\tdravo\\.mul\t0$' &&
  expect_line table "$tmp/out" $'^music\t.*game\\\\\t\t0$'

check resolve 0 run files --game-dir "$(winpath "$game")" HERO music nothere &&
  expect_line resolve "$tmp/out" $'^hero\t1\t.*game\\\\data\\\\dravo\\.mul$' &&
  expect_line resolve "$tmp/out" $'^music\t0\t.*game\\\\music$' &&
  expect_line resolve "$tmp/out" $'^nothere\t-1\tnothere$'

check patch 0 run files --game-dir "$(winpath "$game")" --patch-dir "$(winpath "$patch")" extra &&
  expect_line patch "$tmp/out" $'^extra\t1\t.*dravo\\.mul$'

if [ -z "$emu" ]; then  # drive letters through the drive table, as the game's own files give them
  mkdir -p "$tmp/cdrive" && cp -r "$game" "$tmp/cdrive/Game"
  printf '[dirhd]\nC:\\GAME\n[path]\nhero                hd:data\\\n' >"$tmp/cdrive/Game/Dravo.ini"
  check drives 0 env DRAVO_DRIVES="c=$tmp/cdrive" "$dravo" files --game-dir 'C:\Game' hero &&
    expect_line drives "$tmp/out" $'^hero\t1\tc:\\\\game\\\\data\\\\dravo\\.mul$'
fi

rm "$game/multigen.dat"
check missing-records 1 run files --game-dir "$(winpath "$game")" && expect_line missing-records "$tmp/err" 'multigen\.dat'
check missing-game 1 run files --game-dir "$(winpath "$tmp/nowhere")"

finish
