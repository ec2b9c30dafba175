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
  expect_line compile-warning "$tmp/err" '^.*message\.txt:2: warning: message 12: the string is long \(string count 5\)$'
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

# What the compiler drops is said on stderr, never in Message.err; --strict writes nothing.
mkdir -p "$tmp/open"
printf '#1 0 0 0 0 40 2 0\nHello.\n' >"$tmp/open/message.txt"
(cd "$tmp/work" && check strict 1 run msg compile --strict "$(winpath "$tmp/open")") &&
  expect_line strict-warning "$tmp/err" '^.*message\.txt:1: warning: message 1 is never written: no header line follows it' &&
  expect_line strict-error "$tmp/err" 'taken as errors \(--strict\): nothing was written'
[ ! -e "$tmp/open/message.dat" ] || { echo "FAIL strict: tables were written"; failures=$((failures + 1)); }
(cd "$tmp/work" && check not-strict 0 run msg compile "$(winpath "$tmp/open")") &&
  expect_line not-strict "$tmp/err" '^.*message\.txt:1: warning: message 1 is never written'
[ -f "$tmp/open/message.dat" ] || { echo "FAIL not-strict: no tables"; failures=$((failures + 1)); }
mkdir -p "$tmp/clean" && printf '#1 0 0 0 0 40 2 0\nHello.\n#0\n' >"$tmp/clean/message.txt"
(cd "$tmp/work" && check strict-clean 0 run msg compile --strict "$(winpath "$tmp/clean")")

check compile-missing 1 run msg compile "$(winpath "$tmp/nowhere")" && expect_line compile-missing "$tmp/err" 'message\.txt'
check decompile-missing 1 run msg decompile "$(winpath "$tmp/nowhere")"

# Read-only targets are refused and left whole; a read-only source is only read.
cp -r "$src" "$tmp/ro" && chmod 0444 "$tmp/ro/message.dat" "$tmp/ro/message.txt"
cp "$tmp/ro/message.dat" "$tmp/ro.dat.orig"
(cd "$tmp/work" && check compile-read-only-table 1 run msg compile "$(winpath "$tmp/ro")") &&
  expect_line compile-read-only-table "$tmp/err" 'message\.dat.*read-only'
same_file compile-read-only-untouched "$tmp/ro.dat.orig" "$tmp/ro/message.dat"
chmod 0644 "$tmp/ro/message.dat"
(cd "$tmp/work" && check compile-read-only-source 0 run msg compile "$(winpath "$tmp/ro")")
printf 'keep' >"$tmp/ro-out.txt" && chmod 0444 "$tmp/ro-out.txt"
check decompile-over-read-only 1 run msg decompile "$(winpath "$src")" -o "$(winpath "$tmp/ro-out.txt")"
[ "$(cat "$tmp/ro-out.txt")" = keep ] || fail_check "decompile-over-read-only: overwritten"

# On Linux the tool names the file in Linux form with the system's words; a directory that
# cannot be written is named as the cause, not the tables.
if [ -z "$emu" ]; then
  check linux-form 1 run msg decompile "$tmp/nowhere" &&
    expect_line linux-form "$tmp/err" "^dravo: $tmp/nowhere/message\.dat: cannot open: No such file or directory\$"
  if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    cp -r "$src" "$tmp/locked" && chmod 0555 "$tmp/locked" && chmod 0755 "$tmp" "$tmp/work" && chmod 0777 "$tmp/work"
    (cd "$tmp/work" && check compile-unwritable-dir 1 setpriv --reuid=nobody --regid=nogroup --clear-groups \
      "$dravo" msg compile "$tmp/locked") && expect_line compile-unwritable-dir "$tmp/err" 'Permission denied'
    chmod 0755 "$tmp/locked"
  fi
fi

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
