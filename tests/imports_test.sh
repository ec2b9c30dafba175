#!/usr/bin/env bash
# The Windows programs import, statically or delay-loaded, only DLLs of the system's known set,
# which Windows never looks for in the program's own folder: a DLL of any other name left
# beside a downloaded installer would run inside it with the rights it was given.
# Usage: imports_test.sh OBJDUMP PROGRAM...
set -u
objdump=$1
shift
known="advapi32.dll gdi32.dll imagehlp.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll"
failures=0
for program in "$@"; do
  names=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | tr -d '\r' | sort -u)
  [ -n "$names" ] || { echo "FAIL $program: no import table read"; failures=$((failures + 1)); continue; }
  for dll in $names; do
    case " $known " in
      *" $dll "*) ;;
      *) echo "FAIL $program imports $dll, which is not one of the system's known DLLs"; failures=$((failures + 1)) ;;
    esac
  done
  echo "$program: $(echo $names)"
done
[ "$failures" -eq 0 ] && echo "all checks passed"
[ "$failures" -eq 0 ]
