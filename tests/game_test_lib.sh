# Shared by the shell tests that install patches into scratch games with the native tool and the
# tests' template program. Source it after setting `dravo` and `template`. It makes a scratch
# folder $tmp (removed at exit) and $TMPDIR inside it, so that a test can see that the tool
# leaves nothing there; it copies the template (the tool opens files without sharing, as the
# game does, so two tests reading one template at once would fail "in use"); it counts
# failures, and `finish` ends the test.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$template" "$tmp/template" && template=$tmp/template
export TMPDIR=$tmp/scratch
mkdir -p "$TMPDIR"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
  exit 0
}
