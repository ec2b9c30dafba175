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

# extract: to standard output, and every member into a directory that is made for it.
check extract-stdout 0 run container extract "$c" map - && same_file extract-stdout "$tmp/map.bin" "$tmp/out"
check extract-all 0 run container extract "$c" --all -o "$(winpath "$tmp/all/deeper")" &&
  same_file extract-all-map "$tmp/map.bin" "$tmp/all/deeper/map" && same_file extract-all-hero "$tmp/new.bin" "$tmp/all/deeper/hero"
check extract-all-usage 2 run container extract "$c" map --all  # --all takes no MEMBER
cp "$tmp/game.mul" "$tmp/unsafe.mul"
check add-unsafe-name 0 run container add "$(winpath "$tmp/unsafe.mul")" 'a:b' "$(winpath "$tmp/hero.bin")"
check extract-all-unsafe 1 run container extract "$(winpath "$tmp/unsafe.mul")" --all -o "$(winpath "$tmp/unsafe")" &&
  expect_line extract-all-unsafe "$tmp/err" 'a:b.*not a safe file name'
[ -z "$(ls -A "$tmp/unsafe" 2>/dev/null)" ] || fail_check "extract-all-unsafe: files were written"

# Refusals that keep every file as it was.
printf 'line one\nline two\n' >"$tmp/text.txt"
cp "$tmp/text.txt" "$tmp/text.orig"
check add-to-text-file 1 run container add "$(winpath "$tmp/text.txt")" m "$(winpath "$tmp/hero.bin")" &&
  expect_line add-to-text-file "$tmp/err" 'not a container'
same_file add-to-text-file-untouched "$tmp/text.orig" "$tmp/text.txt"
cp "$tmp/game.mul" "$tmp/trunc.mul" && truncate -s 30000 "$tmp/trunc.mul" && cp "$tmp/trunc.mul" "$tmp/trunc.orig"
check add-to-truncated 1 run container add "$(winpath "$tmp/trunc.mul")" m "$(winpath "$tmp/hero.bin")"
same_file add-to-truncated-untouched "$tmp/trunc.orig" "$tmp/trunc.mul"
mkdir -p "$tmp/dir.mul"
check add-to-directory 1 run container add "$(winpath "$tmp/dir.mul")" m "$(winpath "$tmp/hero.bin")" &&
  expect_line add-to-directory "$tmp/err" 'directory'
check replace-in-directory 1 run container replace "$(winpath "$tmp/dir.mul")" hero "$(winpath "$tmp/hero.bin")" &&
  expect_line replace-in-directory "$tmp/err" 'directory'
check replace-missing-source 1 run container replace "$c" hero "$(winpath "$tmp/missing.txt")" &&
  expect_line replace-missing-source "$tmp/err" 'missing.txt'

# A path is never cut: one longer than 260 characters is refused whole.
long=$tmp/abc.mul$(printf 'Z%.0s' $(seq 1 300))
cp "$tmp/game.mul" "$tmp/abc.mul"
cp "$tmp/abc.mul" "$tmp/abc.orig"
check add-long-path 1 run container add "$(winpath "$long")" m "$(winpath "$tmp/hero.bin")" &&
  expect_line add-long-path "$tmp/err" 'longer than 260'
check replace-long-source 1 run container replace "$(winpath "$tmp/abc.mul")" hero "$(winpath "$long")" &&
  expect_line replace-long-source "$tmp/err" 'longer than 260'
same_file long-paths-untouched "$tmp/abc.orig" "$tmp/abc.mul"

# Read-only files: a target is refused, a source only needs to be readable.
cp "$tmp/game.mul" "$tmp/ro.mul" && chmod 0444 "$tmp/ro.mul" && cp "$tmp/ro.mul" "$tmp/ro.orig"
check add-read-only 1 run container add "$(winpath "$tmp/ro.mul")" m "$(winpath "$tmp/hero.bin")"
check replace-read-only 1 run container replace "$(winpath "$tmp/ro.mul")" hero "$(winpath "$tmp/hero.bin")"
same_file read-only-untouched "$tmp/ro.orig" "$tmp/ro.mul"
printf 'keep' >"$tmp/ro.out" && chmod 0444 "$tmp/ro.out"
check extract-over-read-only 1 run container extract "$c" map "$(winpath "$tmp/ro.out")"
[ "$(cat "$tmp/ro.out")" = keep ] || fail_check "extract-over-read-only: the file was overwritten"
cp "$tmp/hero.bin" "$tmp/ro-source.bin" && chmod 0444 "$tmp/ro-source.bin"
cp "$tmp/game.mul" "$tmp/rw.mul"
check add-read-only-source 0 run container add "$(winpath "$tmp/rw.mul")" ro "$(winpath "$tmp/ro-source.bin")"
check replace-read-only-source 0 run container replace "$(winpath "$tmp/rw.mul")" map "$(winpath "$tmp/ro-source.bin")"

# A source of 2 GiB or more is refused in words, not with the words of success.
truncate -s 2G "$tmp/huge.bin"
check add-huge-source 1 run container add "$(winpath "$tmp/rw.mul")" huge "$(winpath "$tmp/huge.bin")" &&
  expect_line add-huge-source "$tmp/err" '2 GiB'
rm -f "$tmp/huge.bin"

if [ -z "$emu" ]; then
  # Paths are used as typed: not lower-cased, not trimmed.
  mkdir -p "$tmp/y/Src" "$tmp/y/src"
  printf 'upper' >"$tmp/y/Src/New.bin"; printf 'lower' >"$tmp/y/src/new.bin"; printf 'blank' >"$tmp/y/b.bin "
  cp "$tmp/game.mul" "$tmp/y/c.mul"
  check replace-typed-case 0 run container replace "$tmp/y/c.mul" hero "$tmp/y/Src/New.bin" &&
    check extract-typed-case 0 run container extract "$tmp/y/c.mul" hero - && expect_output typed-case upper
  check replace-typed-blank 0 run container replace "$tmp/y/c.mul" hero "$tmp/y/b.bin " &&
    check extract-typed-blank 0 run container extract "$tmp/y/c.mul" hero - && expect_output typed-blank blank

  # A rewritten container keeps its mode and owner.
  cp "$tmp/game.mul" "$tmp/mode.mul" && chmod 0600 "$tmp/mode.mul"
  [ "$(id -u)" = 0 ] && chown nobody "$tmp/mode.mul"
  owner=$(stat -c %U "$tmp/mode.mul")
  check add-keeps-mode 0 run container add "$tmp/mode.mul" kept "$tmp/hero.bin"
  [ "$(stat -c '%a %U' "$tmp/mode.mul")" = "600 $owner" ] || fail_check "add-keeps-mode: now $(stat -c '%a %U' "$tmp/mode.mul")"
  check replace-keeps-mode 0 run container replace "$tmp/mode.mul" kept "$tmp/map.bin"
  [ "$(stat -c '%a %U' "$tmp/mode.mul")" = "600 $owner" ] || fail_check "replace-keeps-mode: now $(stat -c '%a %U' "$tmp/mode.mul")"

  # A container another writer holds is refused at once, "in use", and left whole; what the
  # other writer's scratch files are is not touched.
  cp "$tmp/game.mul" "$tmp/held.mul" && cp "$tmp/held.mul" "$tmp/held.orig"
  printf 'theirs' >"$tmp/held.mul~99999.1"
  flock -x "$tmp/held.mul" sleep 3 &
  holder=$!
  sleep 0.5
  check add-held 1 run container add "$tmp/held.mul" m "$tmp/hero.bin" && expect_line add-held "$tmp/err" 'in use'
  check replace-held 1 run container replace "$tmp/held.mul" hero "$tmp/new.bin" && expect_line replace-held "$tmp/err" 'in use'
  wait "$holder"
  same_file held-untouched "$tmp/held.orig" "$tmp/held.mul"
  [ "$(cat "$tmp/held.mul~99999.1")" = theirs ] || fail_check "held: another writer's scratch file was touched"

  # Two adds at once on one large container: whatever the timing, the container ends whole,
  # with every member whose add reported success, and no scratch file is left.
  head -c 20000000 /dev/zero >"$tmp/big.bin"
  for round in 1 2 3; do
    rm -f "$tmp/race.mul"
    run container add "$tmp/race.mul" big "$tmp/big.bin" >/dev/null 2>&1
    run container add "$tmp/race.mul" one "$tmp/hero.bin" >"$tmp/race1" 2>&1 & p1=$!
    run container add "$tmp/race.mul" two "$tmp/new.bin" >"$tmp/race2" 2>&1 & p2=$!
    wait $p1; s1=$?; wait $p2; s2=$?
    run container check "$tmp/race.mul" >/dev/null 2>&1 || fail_check "race $round: the container is damaged"
    members=$(run container list "$tmp/race.mul" | cut -f1 | tr '\n' ' ')
    [ $s1 = 0 ] && { [[ $members == *"one "* ]] || fail_check "race $round: 'one' reported added but missing"; }
    [ $s2 = 0 ] && { [[ $members == *"two "* ]] || fail_check "race $round: 'two' reported added but missing"; }
    [ $s1 = 0 ] || grep -q 'in use' "$tmp/race1" || fail_check "race $round: $(cat "$tmp/race1")"
    [ $s2 = 0 ] || grep -q 'in use' "$tmp/race2" || fail_check "race $round: $(cat "$tmp/race2")"
    [ -z "$(ls "$tmp" | grep 'race.mul~')" ] || fail_check "race $round: scratch files left"
  done
fi

finish
