#!/usr/bin/env bash
# The translators' round trip with GNU gettext's own tools: dravo msg export writes PO files
# that msgfmt --check and msgcat accept, a translation survives msgmerge with the template of a
# newer game, and dravo msg import brings it back into a source that compiles to the
# translated tables.
# Usage: tool_po_test.sh DRAVO [EMULATOR]   (with an emulator, paths are given as Z:\...)
set -u
dravo=$1
emu=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/tool_test_lib.sh"

game=$tmp/Game
mkdir -p "$game" "$tmp/work" "$tmp/again" "$tmp/new"
# Windows-1252 and, in the #RUS section, Windows-1251 texts; message 5 is defined twice.
printf '#1 0 0 0 0 40 2 0\nHello, traveller.\n#2 0 0 0 0 30 3 0 -e\nThe merchants sell gold at a fair price. Caf\xe9!\n#5 0 0 0 0 20 1 0\nfirst\n#5 0 0 0 0 20 1 0\nsecond\n##6 0 0 0 0 20 2 0\n  Inventory\n#RUS\n#3 0 0 0 0 20 2 0\n\xcf\xf0\xe8\xe2\xe5\xf2\n#0\n' \
  >"$game/message.txt"
(cd "$tmp/work" && check compile 0 run msg compile "$(winpath "$game")")

# The export, as a PO and as a template, passes gettext's own checks.
check export 0 run msg export "$(winpath "$game")" -o "$(winpath "$tmp/game.po")" --language de
check export-template 0 run msg export "$(winpath "$game")" --template -o "$(winpath "$tmp/game.pot")"
check msgfmt-po 0 msgfmt --check -o /dev/null "$tmp/game.po"
[ ! -s "$tmp/err" ] || { fail_check "msgfmt-po: warnings"; cat "$tmp/err"; }
check msgfmt-pot 0 msgfmt --check -o /dev/null "$tmp/game.pot"
check msgcat 0 msgcat -o /dev/null "$tmp/game.po" "$tmp/game.pot"
expect_line context-earlier "$tmp/game.po" '^msgctxt "5#1"$'
expect_line source-line "$tmp/game.po" '^#: message\.txt:12$'
expect_line utf8-rus "$tmp/game.po" '^msgid "Привет"$'
expect_line utf8-inter "$tmp/game.po" 'Café!"$'
expect_line template-fuzzy "$tmp/game.pot" '^#, fuzzy$'

# Imported without a translation, the source compiles to the very same tables.
check import-untranslated 0 run msg import "$(winpath "$game")" "$(winpath "$tmp/game.po")" \
  -o "$(winpath "$tmp/again/message.txt")"
(cd "$tmp/work" && check recompile 0 run msg compile "$(winpath "$tmp/again")")
same_file untranslated-dat "$game/message.dat" "$tmp/again/message.dat"
same_file untranslated-str "$game/message.str" "$tmp/again/message.str"

# Every msgstr translated: "Übersetzung N", and Cyrillic in the #RUS section.
translate() {
  awk '/^#\. section: #RUS/ { rus = 1 }
       /^msgctxt / { ctx = $2; gsub(/"/, "", ctx) }
       /^msgstr ""$/ && ctx != "" {
         print (rus ? "msgstr \"Перевод " : "msgstr \"Übersetzung ") ctx "\""; rus = 0; ctx = ""; next }
       { print }' "$1"
}
translate "$tmp/game.po" >"$tmp/de.po"
check msgfmt-translated 0 msgfmt --check -o /dev/null "$tmp/de.po"
mkdir -p "$tmp/de"
check import-translated 0 run msg import "$(winpath "$game")" "$(winpath "$tmp/de.po")" -o "$(winpath "$tmp/de/message.txt")" &&
  expect_line import-count "$tmp/err" '^6 translated messages, 0 kept their original text\.$'
(cd "$tmp/work" && check compile-translated 0 run msg compile "$(winpath "$tmp/de")")
# msg show gives the terminal's characters (UTF-8 here); the Windows tool the game's bytes.
shown_text() { if [ -n "$emu" ]; then iconv -f "$1" -t utf-8 <"$tmp/out"; else cat "$tmp/out"; fi; }
for n in 1 2 6; do
  check "show-$n" 0 run msg show "$(winpath "$tmp/de")" "$n"
  shown_text cp1252 | grep -q "Übersetzung $n" || { fail_check "translated $n"; cat "$tmp/out"; }
done
check show-3 0 run msg show "$(winpath "$tmp/de")" 3
shown_text cp1251 | grep -q "Перевод 3" || { fail_check "translated 3"; cat "$tmp/out"; }

# The game changes: message 1 gets a new text, message 9 is new. msgmerge keeps the other
# translations, marks the changed one fuzzy, and the import keeps its new original text.
cp "$game/message.txt" "$tmp/new/message.txt"
sed -i 's/^Hello, traveller\.$/Hello again, traveller./; s/^#0$/#9 0 0 0 0 40 2 0\nA new quest.\n#0/' "$tmp/new/message.txt"
(cd "$tmp/work" && check compile-new 0 run msg compile "$(winpath "$tmp/new")")
check export-new 0 run msg export "$(winpath "$tmp/new")" --template -o "$(winpath "$tmp/new.pot")"
check msgmerge 0 msgmerge --quiet -o "$tmp/merged.po" "$tmp/de.po" "$tmp/new.pot"
expect_line merged-kept "$tmp/merged.po" '^msgstr "Übersetzung 2"$'
check msgfmt-merged 0 msgfmt --check -o /dev/null "$tmp/merged.po"
mkdir -p "$tmp/merged"
check import-merged 0 run msg import "$(winpath "$tmp/new")" "$(winpath "$tmp/merged.po")" \
  -o "$(winpath "$tmp/merged/message.txt")"
(cd "$tmp/work" && check compile-merged 0 run msg compile "$(winpath "$tmp/merged")")
check merged-2 0 run msg show "$(winpath "$tmp/merged")" 2 && expect_line merged-2 "$tmp/out" 'bersetzung 2'
check merged-1 0 run msg show "$(winpath "$tmp/merged")" 1 && expect_line merged-1-original "$tmp/out" 'Hello again, traveller\.'
check merged-9 0 run msg show "$(winpath "$tmp/merged")" 9 && expect_line merged-9-original "$tmp/out" 'A new quest\.'

# Problems are named with the PO's line, and nothing is written.
{ cat "$tmp/de.po"; printf '\nmsgctxt "77"\nmsgid "x"\nmsgstr "y"\n'; } >"$tmp/bad.po"
line=$(grep -n '^msgctxt "77"$' "$tmp/bad.po" | cut -d: -f1)
check import-bad 1 run msg import "$(winpath "$game")" "$(winpath "$tmp/bad.po")" -o "$(winpath "$tmp/bad.txt")" &&
  expect_line import-bad-line "$tmp/err" "bad\\.po:$line: error: message 77 is not in the message tables" &&
  expect_line import-bad-nothing "$tmp/err" 'nothing was written'
[ ! -e "$tmp/bad.txt" ] || fail_check "import-bad: a source was written"
sed 's/Übersetzung 1/Приве́т/' "$tmp/de.po" >"$tmp/cyr.po"
check import-encoding 1 run msg import "$(winpath "$game")" "$(winpath "$tmp/cyr.po")" &&
  expect_line import-encoding "$tmp/err" 'has no place in Windows-1252; choose the code page with --encoding'
check encoding-usage 2 run msg export "$(winpath "$game")" --encoding utf-8

finish
