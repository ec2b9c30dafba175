#!/usr/bin/env bash
# The dravo tool's "pack" commands: a patch built from a real template program lists and
# extracts back to its files, and the stamped program itself unpacks them; every refusal
# exits 1 and leaves no output file.
# Usage: tool_pack_test.sh DRAVO TEMPLATE [EMULATOR]   (with an emulator, paths are given as Z:\...)
set -u
dravo=$1
template=$2
emu=${3:-}
. "$(dirname "${BASH_SOURCE[0]}")/tool_test_lib.sh"
# A copy of its own: the tool opens files without sharing, as the game does, so another test
# reading the same template at the same moment would make this one fail "in use".
cp "$template" "$tmp/template.exe" && template=$tmp/template.exe

expect_same() {  # expect_same NAME FILE FILE
  cmp -s "$2" "$3" || fail_check "$1: $2 and $3 differ"
}
expect_absent() { [ ! -e "$2" ] || fail_check "$1: $2 was left behind"; }

in=$tmp/in
mkdir -p "$in" "$in/other"
printf '[work]\r\n0 patch.mul hero\r\n' >"$in/patch.ini"
: >"$in/patch.dat"
head -c 30721 /dev/urandom >"$in/patch.mul"
head -c 10240 /dev/urandom >"$in/DRAVO.EXE"
files=("$(winpath "$in/patch.ini")" "$(winpath "$in/patch.dat")" "$(winpath "$in/patch.mul")" "$(winpath "$in/DRAVO.EXE")")
patch=$tmp/patch.exe

check build 0 run pack build --template "$(winpath "$template")" --out "$(winpath "$patch")" "${files[@]}" &&
  expect_line build "$tmp/out" 'patch\.exe: 4 files, 41084 of 1219597 bytes used'
printf 'keep' >"$tmp/ro.exe" && chmod 0444 "$tmp/ro.exe"
check build-over-read-only 1 run pack build --template "$(winpath "$template")" --out "$(winpath "$tmp/ro.exe")" "${files[@]}" &&
  expect_line build-over-read-only "$tmp/err" 'read-only'
[ "$(cat "$tmp/ro.exe")" = keep ] || fail_check "build-over-read-only: overwritten"
check list 0 run pack list "$(winpath "$patch")" &&
  expect_line list "$tmp/out" $'^patch\\.ini\t26$' && expect_line list "$tmp/out" $'^patch\\.dat\t0$' &&
  expect_line list "$tmp/out" $'^patch\\.mul\t30721$' && expect_line list "$tmp/out" $'^DRAVO\\.EXE\t10240$'
check extract 0 run pack extract "$(winpath "$patch")" "$(winpath "$tmp/x")" &&
  for f in patch.ini patch.dat patch.mul DRAVO.EXE; do expect_same "extract $f" "$in/$f" "$tmp/x/$f"; done

# The stamped program unpacks its own data the same way.
mkdir -p "$tmp/run"
chmod +x "$patch"
check stamped-program 0 $emu "$patch" "$(winpath "$tmp/run")" &&
  for f in patch.ini patch.dat patch.mul DRAVO.EXE; do expect_same "stamped-program $f" "$in/$f" "$tmp/run/$f"; done
check template-program 0 $emu "$template" "$(winpath "$tmp/run")" && expect_line template-program "$tmp/out" '^template$'

check deterministic 0 run pack build --template "$(winpath "$template")" --out "$(winpath "$tmp/again.exe")" "${files[@]}" &&
  expect_same deterministic "$patch" "$tmp/again.exe"

# A name beginning with "Begin" never goes first: the region would look unstamped.
printf 'x' >"$in/Beginner.txt"
check begin-first 0 run pack build --template "$(winpath "$template")" --out "$(winpath "$tmp/b.exe")" \
  "$(winpath "$in/Beginner.txt")" "$(winpath "$in/patch.ini")" &&
  check begin-first-list 0 run pack list "$(winpath "$tmp/b.exe")" &&
  { [ "$(tr -d '\r' <"$tmp/out" | head -1)" = $'patch.ini\t26' ] || fail_check "begin-first: patch.ini not first"; }

check template-list 0 run pack list "$(winpath "$template")" && { [ ! -s "$tmp/out" ] || fail_check "template-list: printed entries"; }
mkdir -p "$tmp/none"
check template-extract 0 run pack extract "$(winpath "$template")" "$(winpath "$tmp/none")" &&
  { [ -z "$(ls -A "$tmp/none")" ] || fail_check "template-extract: wrote files"; }

refuse() {  # refuse NAME MESSAGE-REGEX FILE...
  local name=$1 msg=$2; shift 2
  local args=()
  for f in "$@"; do args+=("$(winpath "$f")"); done
  check "$name" 1 run pack build --template "$(winpath "$template")" --out "$(winpath "$tmp/refused.exe")" "${args[@]}" &&
    expect_line "$name" "$tmp/err" "$msg"
  expect_absent "$name" "$tmp/refused.exe"
  expect_absent "$name" "$tmp/refused.exe.dravo-tmp"
}
printf 'x' >"$in/.hidden"
printf 'x' >"$in/nul.txt"
printf 'x' >"$in/a-name-of-twenty.txt"
printf 'x' >"$in/other/PATCH.INI"
head -c 1219550 /dev/zero >"$in/huge.bin"
refuse bad-name-dot 'refuse this name' "$in/.hidden"
refuse bad-name-device 'refuse this name' "$in/nul.txt"
refuse bad-name-long 'refuse this name' "$in/a-name-of-twenty.txt"
refuse same-name 'two files of this name' "$in/patch.ini" "$in/other/PATCH.INI"
refuse too-big '28 bytes more than' "$in/huge.bin" "$in/patch.ini"   # 24+1219550 + 24+26 + 1 = 1219625
refuse only-begin 'begins with "Begin"' "$in/Beginner.txt"
refuse missing-file 'cannot open' "$in/not-there"
check stamped-template 1 run pack build --template "$(winpath "$patch")" --out "$(winpath "$tmp/refused.exe")" "${files[0]}" &&
  expect_line stamped-template "$tmp/err" 'not in template state'
expect_absent stamped-template "$tmp/refused.exe"
check no-region 1 run pack build --template "$(winpath "$in/patch.ini")" --out "$(winpath "$tmp/refused.exe")" "${files[0]}"
expect_absent no-region "$tmp/refused.exe"
check no-region-list 1 run pack list "$(winpath "$in/patch.mul")"

# A damaged size: the first entry's size field now runs past the region's end.
region=$(grep -obUa 'Begin\.\.\.\.\.\.\.\.\.\.' "$template" | head -1 | cut -d: -f1)
cp "$patch" "$tmp/damaged.exe"
printf '\377\377\377\177' | dd of="$tmp/damaged.exe" bs=1 seek=$((region + 20)) conv=notrunc status=none
check damaged-list 1 run pack list "$(winpath "$tmp/damaged.exe")" && expect_line damaged-list "$tmp/err" 'size 2147483647 runs past'
mkdir -p "$tmp/dmg"
check damaged-extract 1 run pack extract "$(winpath "$tmp/damaged.exe")" "$(winpath "$tmp/dmg")" &&
  { [ -z "$(ls -A "$tmp/dmg")" ] || fail_check "damaged-extract: wrote files"; }

# A second entry whose name begins with '.': by the format that ends the list, so what
# follows it up to "End" must be fill; here it is the rest of the patch.
cp "$patch" "$tmp/dotted.exe"
second=$((region + 24 + 26))   # behind patch.ini's header and content
printf '.' | dd of="$tmp/dotted.exe" bs=1 seek=$second conv=notrunc status=none
check dotted-list 1 run pack list "$(winpath "$tmp/dotted.exe")" &&
  expect_line dotted-list "$tmp/err" "the list ends after entry 1 \\(patch\\.ini\\), but byte [0-9]+ behind it is not '\\.'" &&
  { [ ! -s "$tmp/out" ] || fail_check "dotted-list: listed entries"; }
mkdir -p "$tmp/dot"
check dotted-extract 1 run pack extract "$(winpath "$tmp/dotted.exe")" "$(winpath "$tmp/dot")" &&
  { [ -z "$(ls -A "$tmp/dot")" ] || fail_check "dotted-extract: wrote files"; }

# Sizes are checked before memory is asked for: a sparse 100 GiB file costs no disk.
truncate -s 100G "$tmp/huge.exe"
check huge-list 1 run pack list "$(winpath "$tmp/huge.exe")" && expect_line huge-list "$tmp/err" 'too large: 107374182400 bytes'
check huge-build 1 run pack build --template "$(winpath "$tmp/huge.exe")" --out "$(winpath "$tmp/refused.exe")" "${files[0]}" &&
  expect_line huge-build "$tmp/err" 'too large'
refuse huge-file 'too large' "$tmp/huge.exe"

check usage-pack 2 run pack
check usage-build 2 run pack build --template "$(winpath "$template")" "${files[0]}"
check usage-list 2 run pack list

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
