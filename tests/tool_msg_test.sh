#!/usr/bin/env bash
# The dravo tool's "msg" commands on a small message source: compile, decompile and compile
# again to the same bytes, show, and the exit statuses.
# Usage: tool_msg_test.sh DRAVO [EMULATOR]   (with an emulator, paths are given as Z:\...)
set -u
dravo=$1
emu=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/tool_test_lib.sh"

src=$tmp/Game
mkdir -p "$src" "$tmp/again" "$tmp/work"
printf '#RUS\r\n#12 0 0 0 0 10 1 0 Voice.WAV\r\nHello there, traveller of the roads.\r\n#INTER\r\n##7 1 2 3 4 20 2 5 -c p3 p4\r\n  Line one\\c\r\n...two  spaced\r\n#0\r\n' >"$src/message.txt"

check usage-no-verb 2 run msg
check usage-no-dir 2 run msg compile
check usage-show-number 2 run msg show "$(winpath "$src")"

(cd "$tmp/work" && check compile 0 run msg compile "$(winpath "$src")") &&
  expect_line compile-warning "$tmp/err" '^message\.txt:2: warning: message 12: the string is long \(string count 5\)$'
[ -f "$src/message.dat" ] && [ -f "$src/message.str" ] || { echo "FAIL compile: no tables"; failures=$((failures + 1)); }
ls "$tmp/work" | grep -qi '^message\.err$' || { echo "FAIL compile: no error file in the current directory"; failures=$((failures + 1)); }
[ "$(stat -c %s "$src/message.dat")" = $((13 * 180)) ] || { echo "FAIL compile: message.dat size"; failures=$((failures + 1)); }

check show 0 run msg show "$(winpath "$src")" 7 &&
  expect_line show-width "$tmp/out" $'^width\t20$' &&
  expect_line show-raw "$tmp/out" $'^raw\t1$' &&
  expect_line show-points "$tmp/out" $'^points\t3 7 0' &&
  expect_line show-string "$tmp/out" $'^string 5\t20\t\\[      Line one      \\]$'
check show-missing 1 run msg show "$(winpath "$src")" 8 && expect_line show-missing "$tmp/err" 'no message 8'

check decompile 0 run msg decompile "$(winpath "$src")" -o "$(winpath "$tmp/again/message.txt")"
(cd "$tmp/work" && check recompile 0 run msg compile "$(winpath "$tmp/again")")
same_file roundtrip-dat "$src/message.dat" "$tmp/again/message.dat"
same_file roundtrip-str "$src/message.str" "$tmp/again/message.str"
check decompile-stdout 0 run msg decompile "$(winpath "$src")" && expect_line decompile-stdout "$tmp/out" '^##7 1 2 3 4 20 2 5 -c p3 p4$'

check compile-missing 1 run msg compile "$(winpath "$tmp/nowhere")" && expect_line compile-missing "$tmp/err" 'message\.txt'
check decompile-missing 1 run msg decompile "$(winpath "$tmp/nowhere")"

# Sizes are checked before memory is asked for: sparse files of 100 GiB cost no disk.
mkdir -p "$tmp/huge"
cp "$src/message.dat" "$src/message.str" "$tmp/huge/"
truncate -s 100G "$tmp/huge/message.dat"
check huge-dat-show 1 run msg show "$(winpath "$tmp/huge")" 1 &&
  expect_line huge-dat-show "$tmp/err" 'message\.dat: too large: 107374182400 bytes; message\.dat holds at most 65536 records'
check huge-dat-decompile 1 run msg decompile "$(winpath "$tmp/huge")" && expect_line huge-dat-decompile "$tmp/err" 'too large'
cp "$src/message.dat" "$tmp/huge/"
truncate -s 100G "$tmp/huge/message.str"
check huge-str-show 1 run msg show "$(winpath "$tmp/huge")" 7 && expect_line huge-str-show "$tmp/err" 'message\.str: too large'
check huge-str-decompile 1 run msg decompile "$(winpath "$tmp/huge")" && expect_line huge-str-decompile "$tmp/err" 'too large'

finish
