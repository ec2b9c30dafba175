# Shared by the shell tests of the dravo tool. Source it after setting `dravo` (the tool) and
# `emu` (the Windows emulator, or empty). It makes a scratch folder $tmp, removed at exit, and
# counts failures in $failures; end the test with `finish`.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# A path as the tool under test takes it: under Wine the host's root is drive Z:.
winpath() { if [ -n "$emu" ]; then local p=${1//\//\\}; echo "Z:$p"; else echo "$1"; fi; }
run() { $emu "$dravo" "$@"; }
fail_check() { echo "FAIL $*"; failures=$((failures + 1)); }

check() {  # check NAME EXPECTED-STATUS COMMAND...: runs it, output in $tmp/out and $tmp/err
  local name=$1 want=$2; shift 2
  "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
  local got=$?
  if [ "$got" != "$want" ]; then
    fail_check "$name: exit $got, expected $want"; cat "$tmp/out" "$tmp/err"
    return 1
  fi
}
expect_line() {  # expect_line NAME FILE EXTENDED-REGEX
  if ! tr -d '\r' <"$2" | grep -Eq "$3"; then fail_check "$1: no line matching /$3/ in:"; cat "$2"; fi
}
expect_output() {  # expect_output NAME EXPECTED-TEXT: the whole of $tmp/out
  local got; got=$(tr -d '\r' <"$tmp/out")
  [ "$got" = "$2" ] || { fail_check "$1: output"; echo "$got"; echo "expected"; echo "$2"; }
}
same_file() {  # same_file NAME A B
  cmp -s "$2" "$3" || fail_check "$1: $2 and $3 differ"
}
finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
  exit 0
}
