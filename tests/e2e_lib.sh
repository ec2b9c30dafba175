# The set-up shared by the end-to-end tests of the installer under Wine and Xvfb. Sourced with
# the test's arguments, WINDOWS_BUILD NATIVE_DRAVO. Sets win, dravo, the GUI_ variables of
# scripts/lib/installer-gui.sh, tmp (removed at exit, with the Wine sessions of the scratch
# prefixes made in it, tmp/prefix-*), failures and fail(); makes the demo game (tmp/game) and
# the demo patch (tmp/patch), and stamps the patch into the real installer (tmp/Patch.exe).
set -u
win=$(cd "$1" && pwd)
dravo=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
GUI_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
GUI_TOOLS=$win/tests
GUI_SHOTS=$win/e2e
mkdir -p "$GUI_SHOTS"
. "$GUI_ROOT/scripts/lib/installer-gui.sh"
tmp=$(mktemp -d)
failures=0
cleanup() {
  gui_stop_display
  for p in "$tmp"/prefix-*; do [ -d "$p" ] && WINEPREFIX=$p wineserver -k 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

bash "$GUI_ROOT/scripts/make-demo-game" "$dravo" "$tmp/game" "$tmp/patch" "$GUI_TOOLS/list_windows.exe" >/dev/null ||
  { echo "cannot make the demo game"; exit 1; }
"$dravo" pack build --template "$win/DravoPatch.exe" --out "$tmp/Patch.exe" "$tmp"/patch/* >/dev/null ||
  { echo "cannot stamp the patch"; exit 1; }
