#!/bin/sh
# Fails when a Windows program needs a DLL that Windows doesn't bring
# (a compiler runtime that wasn't linked in statically). vardel-find.exe
# alone may also read the registry (advapi32.dll).
#   check-imports.sh OBJDUMP PROGRAM.exe ...
set -eu
objdump=$1
shift
status=0
for program in "$@"; do
  dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -n "$dlls" ] || { echo "$program: no imports found" >&2; status=1; }
  for dll in $dlls; do
    case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
      kernel32.dll | msvcrt.dll | api-ms-win-crt-*.dll | ucrtbase.dll) ;;
      advapi32.dll) [ "$(basename "$program")" = vardel-find.exe ] || { echo "$program needs $dll" >&2; status=1; } ;;
      *) echo "$program needs $dll" >&2; status=1 ;;
    esac
  done
done
exit $status
