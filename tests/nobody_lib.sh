# For the tests in which root works on a game folder that an ordinary user, `nobody`, may write
# and plant things in: skips the test (exit 77) unless it runs as root with setpriv and that
# user; sources game_test_lib.sh, opens its scratch folders to that user, and gives as_user,
# which runs a command as `nobody`.
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null || ! getent passwd nobody >/dev/null; then
  echo "skipped: needs root, setpriv and the user nobody"
  exit 77
fi
. "$(dirname "${BASH_SOURCE[0]}")/game_test_lib.sh"
chmod 755 "$tmp" "$TMPDIR"

as_user() { setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups "$@"; }
