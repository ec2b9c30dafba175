#!/usr/bin/env bash
# Runs the README's demo both ways, as a user would, and checks what it reports: the headless
# install with "dravo install", and the installer under Wine on a display of its own (Xvfb):
# the 32-bit DravoPatch.exe, or the 64-bit one under 64-bit Wine on a machine that cannot run
# 32-bit programs (the demo says which).
# Each run is bounded in time; its whole output is kept in build/demo-test/. Prints PASS or
# FAIL for each check and exits 1 when any failed.
# Usage: demo_test.sh [SECONDS_PER_RUN]
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
limit=${1:-900}
logs=$root/build/demo-test
rm -rf "$logs" && mkdir -p "$logs"
failures=0

pass() { echo "PASS $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# What the demo patch puts into the game's messages, as "dravo msg show" prints the strings.
declare -A patched=(
  [1]='[Welcome to Dravo, traveller. The patch'
  [2]='[The merchants of the north now sell'
  [4]='[A new message that the patch brings.]'
)

# The section of LOG from the line matching START up to the next "== " heading.
section() {  # section LOG START
  awk -v start="$2" 'index($0, start) == 1 {on = 1; next} on && /^== / {exit} on {print}' "$1"
}

# The texts shown for message N in a section, up to the next message.
message_in() {  # message_in SECTION_TEXT N
  awk -v head="  message $2:" '$0 == head {on = 1; next} on && /^  [^ ]/ {exit} on {print}' <<<"$1"
}

contains() { grep -qF -- "$2" <<<"$1"; }

# Runs scripts/demo ARGS with its own display (none inherited), at most $limit seconds.
run_demo() {  # run_demo NAME ARGS...
  local name=$1; shift
  local started=$SECONDS status=0
  rm -rf "$root/build/demo"  # nothing from an earlier run may pass for this one's
  (unset DISPLAY; exec timeout -k 20 "$limit" "$root/scripts/demo" "$@") >"$logs/$name.log" 2>&1 </dev/null ||
    status=$?
  echo "$name: scripts/demo $* took $((SECONDS - started)) s, exit status $status"
  check "$name: exit status 0" [ "$status" = 0 ]
  if [ "$status" != 0 ]; then tail -30 "$logs/$name.log" | sed 's/^/    | /'; fi
}

# The checks common to both runs: the game's messages before and after, and no error lines.
check_messages() {  # check_messages NAME
  local log=$logs/$1.log before after n
  before=$(section "$log" '== the game before the patch')
  after=$(section "$log" '== the game after the patch')
  check "$1: message 4 shown as absent before the patch" contains "$(message_in "$before" 4)" '(absent)'
  check "$1: message 1 shown before the patch" contains "$(message_in "$before" 1)" '[Welcome to Dravo, traveller.'
  for n in 1 2 4; do
    check "$1: message $n patched after the install" contains "$(message_in "$after" "$n")" "${patched[$n]}"
  done
  check "$1: no error lines from the tool" bash -c '! grep -q "^ *dravo: " "$1"' _ "$log"
}

echo "== scripts/demo --headless"
run_demo headless --headless
check_messages headless
check "headless: the install reports completion" grep -qF 'Dravo patch completed.' "$logs/headless.log"

echo "== scripts/demo (the installer under Wine and Xvfb)"
run_demo gui
grep '^== Windows programs: ' "$logs/gui.log" | sed 's/^== /gui: /'
check_messages gui
final=$root/build/demo/shots/demo-final.txt
[ -f "$final" ] && cp "$final" "$logs/"
check "gui: the final box says \"Dravo patch completed.\"" grep -qsF 'Dravo patch completed.' "$logs/demo-final.txt"
check "gui: the final box's text is shown in the demo's output" grep -qF 'Dravo patch completed.' "$logs/gui.log"
check "gui: screenshots of the dialog and the final box" \
  test -s "$root/build/demo/shots/demo-dialog.png" -a -s "$root/build/demo/shots/demo-final.png"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; the demos' output is in $logs"
  exit 1
fi
echo "both demos passed; their output is in $logs"
