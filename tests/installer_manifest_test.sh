#!/usr/bin/env bash
# The installer's manifest, read back from the built program as Windows reads it: one manifest
# resource with id 1, well-formed XML (Windows refuses to start a program whose manifest does
# not parse), naming the program's own processor (Windows refuses to start a program whose
# manifest names another), asking to run elevated, and naming the Windows versions from Vista
# to 11.
# Usage: installer_manifest_test.sh DRAVOPATCH_EXE [WINDRES]
set -u
exe=$1
windres=${2:-i686-w64-mingw32-windres}
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/windows-build.sh"

rc=$("$windres" -i "$exe" -O rc) || { echo "cannot read the resources of $exe"; exit 1; }
[ "$(grep -c '^[^ ].* 24 /\* RT_MANIFEST \*/$' <<<"$rc")" = 1 ] || fail "not exactly one manifest resource"
grep -qx '1 24 /\* RT_MANIFEST \*/' <<<"$rc" || fail "the manifest is not resource 1, the one read at process start"

# The resource's bytes: the quoted lines between BEGIN and END, with "" back to " and \n to a
# line end.
manifest=$(awk '/^1 24 \/\* RT_MANIFEST \*\/$/ {on = 1; next} on && /^END$/ {exit} on && /^  "/ {print}' <<<"$rc" |
  sed -e 's/^  "//' -e 's/"$//' -e 's/""/"/g' | sed -e 's/\\n$//')
[ -n "$manifest" ] || { fail "the manifest is empty"; echo "$failures check(s) failed"; exit 1; }

problem=$(python3 -c '
import sys, xml.dom.minidom
try:
    xml.dom.minidom.parseString(sys.stdin.buffer.read())
except Exception as e:
    print(e)' <<<"$manifest" 2>&1)
[ -z "$problem" ] || fail "the manifest is not well-formed XML: $problem"
case $(win_pe_machine "$exe") in
  i386) processor=x86 ;;
  x86_64) processor=amd64 ;;
  *) processor=; fail "$exe is not a program for x86 or x86-64 Windows" ;;
esac
[ -z "$processor" ] || grep -q "<assemblyIdentity [^>]*processorArchitecture=\"$processor\"" <<<"$manifest" ||
  fail "the manifest does not name the program's processor, $processor"
grep -q '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>' <<<"$manifest" ||
  fail "the manifest does not ask to run as administrator"
grep -q '<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">' <<<"$manifest" ||
  fail "the manifest has no compatibility section"
for id in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
  4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  grep -q "<supportedOS Id=\"{$id}\"/>" <<<"$manifest" || fail "the manifest does not name the Windows version {$id}"
done

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "the manifest is in place"
