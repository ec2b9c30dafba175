#!/usr/bin/env bash
# dravo patch make at the edges of what the installer can do: each change it cannot make is
# named and fails the command (nothing written), --allow-partial writes a patch without them
# that still installs, and --dir writes the very files the patch carries.
# Usage: tool_patch_limits_test.sh DRAVO TEMPLATE
set -u
dravo=$1
template=$2
. "$(dirname "${BASH_SOURCE[0]}")/game_test_lib.sh"

DRAVO_DEMO_WORLD_KIB=64 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/old" "$tmp/patch" >/dev/null || exit 1
make() { "$dravo" patch make --old "$tmp/old" --new "$tmp/new" --out "$tmp/made.exe" --template "$template" "$@" \
           >"$tmp/out" 2>"$tmp/err" </dev/null; }
fresh() { rm -rf "$tmp/new" "$tmp/made.exe" && cp -r "$tmp/old" "$tmp/new"; }
# cannot NAME LINE-REGEX: patch make fails, names the change, and writes nothing.
cannot() {
  if make; then fail "$1: exit 0"; cat "$tmp/out" "$tmp/err"; return; fi
  grep -Eq "$2" "$tmp/out" || { fail "$1: no line /$2/"; cat "$tmp/out" "$tmp/err"; }
  grep -q 'nothing was written' "$tmp/err" || fail "$1: does not say that nothing was written"
  [ ! -e "$tmp/made.exe" ] || fail "$1: a patch was written"
}

fresh && printf 'extra member\n' >"$tmp/extra" && "$dravo" container add "$tmp/new/Data/dravo.mul" extra "$tmp/extra" >/dev/null
cannot member-added '^  member extra of data\\dravo\.mul: added in NEW'
# The rest of the patch is still made with --allow-partial, says what it left out, and installs.
printf 'HERO v3\n' >"$tmp/hero3" && "$dravo" container replace "$tmp/new/Data/dravo.mul" hero "$tmp/hero3" >/dev/null 2>&1
if make --allow-partial --dir "$tmp/dir"; then
  grep -q '^Left out, as the installer cannot do them' "$tmp/out" || fail "partial: the left-out changes are not listed"
  rm -rf "$tmp/g" && cp -r "$tmp/old" "$tmp/g"
  "$dravo" install --game-dir "$tmp/g" --patch "$tmp/made.exe" --yes >"$tmp/install" 2>&1 || fail "partial: the install failed"
  "$dravo" container extract "$tmp/g/Data/dravo.mul" hero "$tmp/hero.out" >/dev/null && cmp -s "$tmp/hero.out" "$tmp/hero3" ||
    fail "partial: the member was not replaced"
  # --dir holds exactly the files the installer carries.
  mkdir -p "$tmp/unpacked" && "$dravo" pack extract "$tmp/made.exe" "$tmp/unpacked" >/dev/null
  diff -r "$tmp/dir" "$tmp/unpacked" >/dev/null || fail "partial: --dir differs from what the patch carries"
else
  fail "partial: exit $?"; cat "$tmp/out" "$tmp/err"
fi

printf 'game program\n' >"$tmp/old/Dravo.exe"
fresh && rm "$tmp/new/Dravo.exe"
cannot file-removed '^  file Dravo\.exe: removed in NEW'
rm "$tmp/old/Dravo.exe"

fresh && printf 'notes\n' >"$tmp/new/Data/readme.txt"
cannot subfolder-file '^  file Data\\readme\.txt: new, outside the game.s own folder'

fresh && printf 'long\n' >"$tmp/new/a-name-longer-than-nineteen.txt"
cannot long-name "^  file a-name-longer-than-nineteen\\.txt: new, but a carried file's name has at most 19 characters"

fresh && head -c 2000000 /dev/zero >"$tmp/new/movie.avi"
cannot too-large '^  file movie\.avi: 2000000 bytes, more than an installer carries'

# The demo's table has 3 names and room for 4: a second new name does not fit.
fresh && sed -i 's/^music               hd:data\\\r$/&\nextra1              hd:\r\nextra2              hd:\r/' "$tmp/new/Dravo.ini"
printf 'one\n' >"$tmp/new/extra1" && printf 'two\n' >"$tmp/new/extra2"
cannot table-full '^  logical name extra2: new in NEW, but OLD.s file table has only 1 free entries'

# Tables rebuilt by a patch already ("02") cannot be rebuilt again: a removed message needs it.
"$dravo" pack build --template "$template" --out "$tmp/demo.exe" "$tmp"/patch/* >/dev/null
rm -rf "$tmp/tagged" && cp -r "$tmp/old" "$tmp/tagged"
"$dravo" install --game-dir "$tmp/tagged" --patch "$tmp/demo.exe" --yes >/dev/null || fail "tagged: the demo install failed"
rm -rf "$tmp/new" && cp -r "$tmp/tagged" "$tmp/new" && rm -rf "$tmp/new"/DravoPatch.* "$tmp/new"/*~undo*
printf '#1 0 0 0 0 40 2 0\nOnly one message is left.\n#0\n' >"$tmp/new/message.txt"
(cd "$tmp/new" && "$dravo" msg compile . >/dev/null 2>&1)
"$dravo" patch make --old "$tmp/tagged" --new "$tmp/new" --out "$tmp/made.exe" --template "$template" >"$tmp/out" 2>&1 &&
  fail "tagged: exit 0"
grep -q 'tagged "02"' "$tmp/out" || { fail "tagged: the tag is not named"; cat "$tmp/out"; }
# On such tables a message whose kind '2' line is too long for the runner is named.
rm -rf "$tmp/new" && cp -r "$tmp/tagged" "$tmp/new" && rm -rf "$tmp/new"/DravoPatch.* "$tmp/new"/*~undo*
{ "$dravo" msg decompile "$tmp/tagged" 2>/dev/null | grep -v '^#0$'
  printf '#7 0 0 0 0 40 2 0 averyveryveryverylongname.wav p1 p2 p3 p4 p5 p6 p7 p8 p9 p10 p11 p12 p13 p14
Long.
#0
'
} >"$tmp/new/message.txt"
(cd "$tmp/new" && "$dravo" msg compile . >/dev/null 2>&1)
"$dravo" patch make --old "$tmp/tagged" --new "$tmp/new" --out "$tmp/made.exe" --template "$template" >"$tmp/out" 2>&1 &&
  fail "long-line: exit 0"
grep -q "message 7: its kind '2' work line is longer than the 98 characters" "$tmp/out" ||
  { fail "long-line: the message is not named"; cat "$tmp/out"; }

[ -z "$(ls -A "$TMPDIR")" ] || fail "the proofs left $(ls -A "$TMPDIR")"
finish
