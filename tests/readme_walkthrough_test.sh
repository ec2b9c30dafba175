#!/usr/bin/env bash
# The README's walk-throughs as a new patch author and a new translator follow them: the tool
# installed as the README says (its install command, with --strip), on the PATH, and every
# fenced sh block of "Making a patch" and "Translating the game's texts" run in order, as
# written, from the kit's folder with a scratch HOME. Any command that fails fails the test.
# Usage: readme_walkthrough_test.sh BUILD_DIR TEMPLATE
#   TEMPLATE: installed as the installer template when the build tree ships none.
set -u
build=$(cd "$1" && pwd)
test_template=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for tool in msginit msgmerge msgattrib; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is not installed (scripts/setup installs gettext)"; exit 1; }
done

# The README's own install line, with the scratch prefix for ~/.local.
line=$(grep -m1 '^cmake --install build/native' "$root/README.md") || { echo "FAIL README: no install line"; exit 1; }
line=${line%%#*}
line=${line//build\/native/$build}
line=${line//\~\/.local/$tmp/prefix}
eval "$line" >"$tmp/install.log" 2>&1 || { echo "FAIL install: $line"; cat "$tmp/install.log"; exit 1; }
[ -f "$tmp/prefix/share/dravo/DravoPatch.exe" ] ||
  { mkdir -p "$tmp/prefix/share/dravo" && cp "$test_template" "$tmp/prefix/share/dravo/DravoPatch.exe"; }

# The fenced sh blocks of the two sections, in the README's order.
awk '/^## / { on = ($0 == "## Making a patch" || $0 == "## Translating the game'"'"'s texts") }
     on && /^```sh$/ { block = 1; next }
     block && /^```$/ { block = 0; next }
     block' "$root/README.md" >"$tmp/walkthrough.sh"
grep -q 'patch make' "$tmp/walkthrough.sh" && grep -q 'msg import' "$tmp/walkthrough.sh" ||
  { echo "FAIL README: the walk-throughs were not found"; cat "$tmp/walkthrough.sh"; exit 1; }

mkdir -p "$tmp/home"
if ! (cd "$root" && env HOME="$tmp/home" PATH="$tmp/prefix/bin:$PATH" TMPDIR="$tmp" \
        bash -e -u -o pipefail -x "$tmp/walkthrough.sh") >"$tmp/out" 2>&1; then
  echo "FAIL the walk-through stopped:"; tail -n 30 "$tmp/out"; exit 1
fi
# What the walk-through promises: the check prints nothing, the translation reaches the patch.
try=$tmp/home/dravo-try
grep -A1 '^+ dravo patch check DravoPatch-1.1.exe' "$tmp/out" | grep -qv '^+' &&
  { echo "FAIL patch check printed:"; grep -A3 '^+ dravo patch check' "$tmp/out"; exit 1; }
[ -f "$try/DravoPatch-de.exe" ] && grep -q '^2 ' <("$tmp/prefix/bin/dravo" pack extract "$try/DravoPatch-de.exe" -o "$tmp/de-patch" >/dev/null && cat "$tmp/de-patch/patch.ini") ||
  { echo "FAIL the translation's patch carries no kind '2' item"; exit 1; }
echo "all checks passed"
