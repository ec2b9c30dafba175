# Which Wine runs a Windows program, and which Windows build this machine can test. Source it.
#
# The product is the 32-bit build (build/win32): the installer template and the Windows zip.
# Its tests need 32-bit Wine, which cannot start on a machine whose kernel does not run 32-bit
# code; there the same programs, built for 64-bit Windows (build/win64), are tested under
# 64-bit Wine instead. DRAVO_WINDOWS_TESTS=win32 or win64 overrides the choice.

WIN_ROOT=${WIN_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

# The CPU a PE program is built for, read from its headers: "i386", "x86_64", or
# "machine-0xNNNN" for another. Fails when FILE is not a PE program.
win_pe_machine() {  # win_pe_machine FILE
  local file=$1 offset signature machine
  [ -f "$file" ] && [ -r "$file" ] || return 1
  [ "$(head -c 2 "$file")" = MZ ] || return 1
  # e_lfanew, at 0x3C of the DOS header: where the "PE\0\0" signature and the file header are.
  offset=$(od -An -tu4 --endian=little -j 60 -N 4 "$file" | tr -d ' ')
  [ -n "$offset" ] || return 1
  signature=$(od -An -tx1 -j "$offset" -N 4 "$file" | tr -d ' ')
  [ "$signature" = 50450000 ] || return 1
  machine=$(od -An -tx2 --endian=little -j $((offset + 4)) -N 2 "$file" | tr -d ' ')
  case $machine in
    014c) echo i386 ;;
    8664) echo x86_64 ;;
    ?*) echo "machine-0x$machine" ;;
    *) return 1 ;;
  esac
}

# The 64-bit Wine loader: on the PATH in some distributions, in Wine's library folder in Debian.
win_wine64() {
  command -v wine64 2>/dev/null || echo /usr/lib/wine/wine64
}

# Sets, for PROGRAM (a path; a name such as "cmd" is taken as 32-bit), the Wine that runs it:
#   WIN_WINE     the loader to call
#   WIN_ARCH     the prefix's WINEARCH (win32 or win64)
#   WIN_PREFIX   the project's clean prefix of that kind, unless DRAVO_WINEPREFIX names one
win_wine_for() {  # win_wine_for PROGRAM
  if [ "$(win_pe_machine "$1" 2>/dev/null)" = x86_64 ]; then
    WIN_WINE=$(win_wine64) WIN_ARCH=win64
    WIN_PREFIX=${DRAVO_WINEPREFIX:-$WIN_ROOT/build/wineprefix64}
  else
    WIN_WINE=wine WIN_ARCH=win32
    WIN_PREFIX=${DRAVO_WINEPREFIX:-$WIN_ROOT/build/wineprefix}
  fi
}

# True when this machine can run 32-bit x86 programs, tried on a 32-bit program of the
# installed Wine; otherwise false, with the reason in WIN_32_PROBLEM.
win_can_run_32() {
  local program out status
  WIN_32_PROBLEM=
  for program in /usr/lib/wine/wineserver32 /usr/lib/wine/wine; do
    [ -x "$program" ] || continue
    # Only a 32-bit ELF tells: a script or a 64-bit program would start anyway.
    [ "$(od -An -tx1 -j 4 -N 1 "$program" 2>/dev/null | tr -d ' ')" = 01 ] || continue
    status=0
    out=$("$program" --version 2>&1 </dev/null) || status=$?
    [ "$status" = 0 ] && return 0
    WIN_32_PROBLEM="$program --version: $(printf '%s' "$out" | tail -1 | sed 's/^.*: \([^:]*\)$/\1/')"
    return 1
  done
  WIN_32_PROBLEM="no 32-bit Wine is installed"
  return 1
}

# True when this machine can run PROGRAM under Wine: a 64-bit program always (the host runs
# 64-bit code), a 32-bit one where 32-bit code runs; otherwise false, with the reason in
# WIN_32_PROBLEM.
win_can_run() {  # win_can_run PROGRAM
  local machine
  machine=$(win_pe_machine "$1") || { WIN_32_PROBLEM="$1 is not a Windows program"; return 1; }
  case $machine in
    x86_64) return 0 ;;
    i386) win_can_run_32 ;;
    *) WIN_32_PROBLEM="$1 is built for $machine"; return 1 ;;
  esac
}

# Sets WIN_TEST_BUILD to the Windows build whose programs this machine can run in its tests,
# win32 or win64, and WIN_TEST_REASON to why.
win_choose_test_build() {
  case ${DRAVO_WINDOWS_TESTS:-} in
    win32 | win64)
      WIN_TEST_BUILD=$DRAVO_WINDOWS_TESTS WIN_TEST_REASON="DRAVO_WINDOWS_TESTS=$DRAVO_WINDOWS_TESTS"
      return 0 ;;
    '') ;;
    *) echo "DRAVO_WINDOWS_TESTS is '$DRAVO_WINDOWS_TESTS'; it must be win32 or win64" >&2; return 2 ;;
  esac
  if win_can_run_32; then
    WIN_TEST_BUILD=win32 WIN_TEST_REASON="this machine runs 32-bit programs"
  else
    WIN_TEST_BUILD=win64 WIN_TEST_REASON="this machine cannot run 32-bit programs ($WIN_32_PROBLEM)"
  fi
}
