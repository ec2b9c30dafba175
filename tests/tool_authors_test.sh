#!/usr/bin/env bash
# The tool as a patch author and a translator meet it: failures that say why and where, what
# `patch make` refuses and what it makes, a patch installed twice, skipped items made visible,
# the terminal's own characters, and one spelling of the output options.
# Usage: tool_authors_test.sh DRAVO TEMPLATE
set -u
dravo=$1
template=$2
emu=
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
. "$here/tool_test_lib.sh"
cp "$template" "$tmp/template" && template=$tmp/template
mkdir -p "$tmp/scratch"
export TMPDIR=$tmp/scratch
DRAVO_DEMO_WORLD_KIB=16 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/game" "$tmp/patch" >/dev/null || exit 1
fresh() { rm -rf "$tmp/$1" && cp -r "$tmp/game" "$tmp/$1"; }  # fresh NAME: a copy of the demo game
last_out() { tr -d '\r' <"$tmp/out" | tail -n 1; }
err_is() {  # err_is NAME EXTENDED-REGEX: stderr is one line, matching
  local got; got=$(tr -d '\r' <"$tmp/err")
  [ "$(printf '%s\n' "$got" | wc -l)" = 1 ] && printf '%s\n' "$got" | grep -Eq "$2" ||
    fail_check "$1: stderr is not one line matching /$2/: $got"
}

# ---- Failures: one line on stderr, "dravo: PATH: REASON"; the outcome last on stdout ----
# (Where the game is looked for is the install test's; here the failures after it.)
mkdir -p "$tmp/nogame/Data"
for case in "no-folder|$tmp/nogame/Data/x|$tmp/nogame/Data/x: no such folder" \
            "no-ini|$tmp/nogame/Data|$tmp/nogame/Data: no Dravo\.ini in this folder"; do
  IFS='|' read -r name dir want <<<"$case"
  check "$name" 1 run install --game-dir "$dir" --dry-run && err_is "$name" "^dravo: $want\$" &&
    { [ "$(last_out)" = "Dry run: the install would fail, and would change nothing; nothing was changed." ] ||
      fail_check "$name: last line $(last_out)"; }
done
fresh g1 && printf 'not a patch' >"$tmp/bad.exe"
check not-a-patch 1 run install --game-dir "$tmp/g1" --patch "$tmp/bad.exe" --yes &&
  err_is not-a-patch "^dravo: $tmp/bad\.exe: no patch region found"
mkdir -p "$tmp/nowork" && printf '[work]\r\n' >"$tmp/nowork/patch.ini" && : >"$tmp/nowork/patch.dat"
run pack build --template "$template" --out "$tmp/nowork.exe" "$tmp/nowork/patch.ini" "$tmp/nowork/patch.dat" >/dev/null
check damaged-patch 1 run install --game-dir "$tmp/g1" --patch "$tmp/nowork.exe" --yes &&
  err_is damaged-patch "^dravo: $tmp/nowork\.exe: The patch is damaged: patch\.ini lists no work item"
# Parser errors in the tool's own form; an unknown command is named.
check unknown-command 2 run frobnicate && err_is unknown-command '^dravo: frobnicate: unknown command; dravo takes one of: files, container'
check unknown-subcommand 2 run container frob && err_is unknown-subcommand '^dravo: frob: unknown command; dravo container takes one of: list'
check unknown-option 2 run install --bogus && err_is unknown-option '^dravo: .*--bogus.*dravo install --help'
check no-command 2 run && err_is no-command '^dravo: .*subcommand'

# ---- patch make: nothing to patch, a source that is not the tables', kind '1' only on request ----
make() {  # make NAME STATUS NEW [OPTION...]: patch make from the demo game to NEW into $tmp/made.exe
  local name=$1 want=$2 new=$3; shift 3
  rm -rf "$tmp/made.exe" "$tmp/made"
  check "$name" "$want" run patch make --old "$tmp/game" --new "$new" --out "$tmp/made.exe" --template "$template" \
    --dir "$tmp/made" "$@"
  [ "$want" = 0 ] || [ ! -e "$tmp/made.exe" ] || fail_check "$name: a patch was written"
}
fresh same && ln -s "$tmp/game" "$tmp/link"
for new in "$tmp/game" "$tmp/link" "$tmp/same"; do
  make "nothing-${new##*/}" 1 "$new" && err_is "nothing-${new##*/}" '^dravo: .*made\.exe: no differences: nothing to patch'
done
fresh edited && sed -i 's/traveller/wanderer/' "$tmp/edited/message.txt"
make source-only 1 "$tmp/edited" &&
  err_is source-only "^dravo: .*: $tmp/edited/message\.txt: it does not compile to the message tables.*dravo msg compile $tmp/edited"
(cd "$tmp/edited" && run msg compile . >/dev/null) && printf 'new file\n' >"$tmp/edited/readme.txt"
make compiled 0 "$tmp/edited" && {
  grep -q '^2 ' "$tmp/made/patch.ini" && ! grep -q '^1 ' "$tmp/made/patch.ini" ||
    fail_check "compiled: not carried as kind '2' items: $(cat "$tmp/made/patch.ini")"
  # What patch make writes checks clean: the new game file is a note, not a warning.
  check made-checks 0 run patch check "$tmp/made.exe" --game-dir "$tmp/game" &&
    { ! grep -Eq 'warning|error' "$tmp/err" && grep -q '^readme\.txt: note: carried as a new file' "$tmp/err" ||
      fail_check "made-checks: $(cat "$tmp/err")"; }
}
# A removed message only a rebuild can carry: named, unless --rebuild-messages asks for one.
fresh removed && sed -i '/^#3 /,+1d' "$tmp/removed/message.txt"
(cd "$tmp/removed" && run msg compile . >/dev/null 2>&1)
make removed 1 "$tmp/removed" && expect_line removed "$tmp/out" "messages removed in NEW: only a rebuild .*--rebuild-messages"
make rebuild 0 "$tmp/removed" --rebuild-messages && expect_line rebuild "$tmp/made/patch.ini" '^1 messages\.new #'

# ---- A kind '1' item on tables a patch rebuilt already: skipped, and said so everywhere ----
run pack build --template "$template" --out "$tmp/demo.exe" "$tmp"/patch/* >/dev/null
mkdir -p "$tmp/k1" && cp "$tmp/patch/msgnew.txt" "$tmp/k1/" && : >"$tmp/k1/patch.dat" &&
  printf '[work]\r\n1 msgnew.txt #1 Welcome\r\n' >"$tmp/k1/patch.ini"
run pack build --template "$template" --out "$tmp/k1.exe" "$tmp"/k1/* >/dev/null
fresh tagged && run install --game-dir "$tmp/tagged" --patch "$tmp/demo.exe" --yes >/dev/null
skip='skipped: 1 msgnew.txt #1 Welcome \(the message tables were rebuilt by a patch already \(tag "02"\), and a rebuild is done only once'
check tagged-install 0 run install --game-dir "$tmp/tagged" --patch "$tmp/k1.exe" --yes &&
  { tr -d '\r' <"$tmp/out" | tail -n 2 | head -n 1 | grep -Eq "^$skip" && [ "$(last_out)" = "Dravo patch completed." ] ||
    fail_check "tagged-install: the skip is not said before the outcome: $(cat "$tmp/out")"; }
check tagged-dry-run 0 run install --game-dir "$tmp/tagged" --patch "$tmp/k1.exe" --dry-run --reinstall &&
  expect_line tagged-dry-run "$tmp/out" "^  $skip"
check tagged-check 0 run patch check "$tmp/k1.exe" --game-dir "$tmp/tagged" &&
  expect_line tagged-check "$tmp/err" '^patch\.ini:2: warning: the item would be skipped on this game: the message tables were rebuilt by a patch already'

# ---- The terminal's own characters, in the C locale too; files named as the user gave them ----
mkdir -p "$tmp/texts" && printf '#1 0 0 0 0 40 2 0\nGr\366\337e!\n#RUS\n#2 0 0 0 0 40 2 0\n\304\360\340\342\356\n#3 x\n' \
  >"$tmp/texts/message.txt"
(cd "$tmp" && LC_ALL=C run msg compile texts >"$tmp/out" 2>"$tmp/err")
expect_line compile-file "$tmp/err" '^texts/message\.txt:6: warning: '
for case in '1|Größe!' '2|Драво'; do
  check "show-${case%%|*}" 0 env LC_ALL=C "$dravo" msg show "$tmp/texts" "${case%%|*}" &&
    expect_line "show-${case%%|*}" "$tmp/out" "^string [0-9]+	[0-9]+	\[${case#*|}\]\$"
done
run msg export "$tmp/texts" -o "$tmp/texts.po" 2>/dev/null
awk '/^msgctxt "1"/ { one = 1 } one && /^msgstr ""$/ { print "msgstr \"日\""; one = 0; next } { print }' \
  "$tmp/texts.po" >"$tmp/bad.po"
check import-error 1 env LC_ALL=C "$dravo" msg import "$tmp/texts" "$tmp/bad.po" &&
  expect_line import-error "$tmp/err" 'the character "日" \(U\+65E5\) has no place in Windows-1252'
sed 's/^msgstr "日"$/msgstr "Grüße!"/' "$tmp/bad.po" >"$tmp/good.po"
check import 0 run msg import "$tmp/texts" "$tmp/good.po" -o "$tmp/imported.txt" && {
  expect_line import-count "$tmp/err" '^1 translated message, 1 kept its original text\.$'
  expect_line import-header "$tmp/imported.txt" '^// Message source written by dravo msg import'
  grep -q $'^Gr\xfc\xdfe!' "$tmp/imported.txt" || fail_check "import: the source is not in Windows-1252"
}

# ---- One spelling: -o/--output everywhere, the older ones still taken; -k keeps old files ----
box=$tmp/game/Data/dravo.mul
mkdir -p "$tmp/o"
for spelling in "pack build --template $template -o $tmp/o/a.exe $tmp/k1/patch.ini|$tmp/o/a.exe" \
                "pack build --template $template --output $tmp/o/b.exe $tmp/k1/patch.ini|$tmp/o/b.exe" \
                "pack build --template $template --out $tmp/o/c.exe $tmp/k1/patch.ini|$tmp/o/c.exe" \
                "pack extract $tmp/k1.exe -o $tmp/o/d|$tmp/o/d/msgnew.txt" \
                "pack extract $tmp/k1.exe $tmp/o/e|$tmp/o/e/msgnew.txt" \
                "container extract $box hero -o $tmp/o/f|$tmp/o/f" \
                "container extract $box hero $tmp/o/g|$tmp/o/g" \
                "container extract $box --all --output $tmp/o/h|$tmp/o/h/hero" \
                "container extract $box --all --output-dir $tmp/o/i|$tmp/o/i/hero" \
                "msg decompile $tmp/game --output $tmp/o/j|$tmp/o/j"; do
  # shellcheck disable=SC2086
  check "spelling: ${spelling%%|*}" 0 run ${spelling%%|*} && { [ -s "${spelling#*|}" ] || fail_check "spelling: ${spelling%%|*}: nothing written"; }
done
mkdir -p "$tmp/here" && check all-here 0 sh -c "cd '$tmp/here' && '$dravo' container extract '$box' --all" &&
  { [ -s "$tmp/here/hero" ] || fail_check "all-here: not extracted into the current folder"; }
printf 'mine' >"$tmp/o/f"
check keep-member 1 run container extract "$box" hero -o "$tmp/o/f" -k && [ "$(cat "$tmp/o/f")" = mine ] ||
  fail_check "keep-member: overwritten"
check keep-all 1 run container extract "$box" --all -o "$tmp/here" --keep-old-files
printf 'mine' >"$tmp/o/d/msgnew.txt"
check keep-pack 1 run pack extract "$tmp/k1.exe" -o "$tmp/o/d" -k && [ "$(cat "$tmp/o/d/msgnew.txt")" = mine ] ||
  fail_check "keep-pack: overwritten"
# Both list commands print the name first.
check pack-list 0 run pack list "$tmp/k1.exe" && expect_line pack-list "$tmp/out" $'^patch\\.ini\t[0-9]+$'
check container-list 0 run container list "$box" && expect_line container-list "$tmp/out" $'^hero\t[0-9]+\t[0-9]+'

finish
