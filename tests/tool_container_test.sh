#!/usr/bin/env bash
# The dravo tool's container commands: add, list, extract, replace, check, and their refusals.
# Usage: tool_container_test.sh DRAVO [EMULATOR]   (with an emulator, paths are given as Z:\...)
set -u
dravo=$1
emu=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/tool_test_lib.sh"

c=$(winpath "$tmp/game.mul")
printf 'hero data' >"$tmp/hero.bin"
head -c 30000 /dev/urandom >"$tmp/map.bin"
printf 'shorter' >"$tmp/new.bin"

check add-hero 0 run container add "$c" Hero "$(winpath "$tmp/hero.bin")"
check add-map 0 run container add "$c" map "$(winpath "$tmp/map.bin")"
check add-twice 1 run container add "$c" HERO "$(winpath "$tmp/hero.bin")"
check add-long-name 1 run container add "$c" abcdefghijklmnopqrst "$(winpath "$tmp/hero.bin")"
check add-missing-source 1 run container add "$c" other "$(winpath "$tmp/none.bin")"
check list 0 run container list "$c" &&
  expect_output list $'tag: \nhero\t26344\t9\t2\nmap\t26353\t30000\t2'

check extract 0 run container extract "$c" map "$(winpath "$tmp/map.out")" && same_file extract "$tmp/map.bin" "$tmp/map.out"
check extract-missing 1 run container extract "$c" nobody "$(winpath "$tmp/x.out")"

check replace 0 run container replace "$c" HERO "$(winpath "$tmp/new.bin")"
check list-after 0 run container list "$c" &&
  expect_output list-after $'tag: 02\nhero\t26344\t7\t2\nmap\t26351\t30000\t2'
check extract-after 0 run container extract "$c" map "$(winpath "$tmp/map2.out")" && same_file moved "$tmp/map.bin" "$tmp/map2.out"
check replace-missing-member 1 run container replace "$c" nobody "$(winpath "$tmp/new.bin")"
check check-good 0 run container check "$c"

# A damaged copy: the map entry claims more data than the file holds.
cp "$tmp/game.mul" "$tmp/bad.mul"
printf '\377\377\000\000' | dd of="$tmp/bad.mul" bs=1 seek=$((344 + 52 + 32)) conv=notrunc 2>/dev/null
cp "$tmp/bad.mul" "$tmp/bad.orig"
check check-bad 1 run container check "$(winpath "$tmp/bad.mul")" && grep -q 'outside' "$tmp/err" ||
  { echo "FAIL check-bad: no report of the entry outside the file"; failures=$((failures + 1)); }
check replace-bad 1 run container replace "$(winpath "$tmp/bad.mul")" map "$(winpath "$tmp/new.bin")"
same_file replace-bad-untouched "$tmp/bad.orig" "$tmp/bad.mul"
check list-not-container 1 run container list "$(winpath "$tmp/new.bin")"
check usage 2 run container list

finish
