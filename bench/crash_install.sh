#!/usr/bin/env bash
# The long crash test: 200 kills of "dravo install" at random instants over its run on a game
# with a 4 MiB container, each followed by "dravo recover"; prints how many trials ended with
# the old game and how many with the new one (none may end mixed). The short version runs
# with the unit tests.
# Usage: bench/crash_install.sh [NATIVE_DRAVO] [TRIALS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dravo=${1:-$root/build/native/dravo}
template=${DRAVO_TEMPLATE:-$root/build/win32/DravoPatch.exe}
exec bash "$root/tests/crash_install_test.sh" "$dravo" "$template" "${2:-200}" 4096
