#!/bin/sh
# Fails when a Windows program needs a DLL that Windows doesn't bring
# (a compiler runtime that wasn't linked in statically), or, for the
# drivers, any but KERNEL32.dll and the C runtime.
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
      # Every Windows has it too; only the simulator may use it, for its
      # control pipe's security descriptor.
      advapi32.dll) [ "$(basename "$program")" = vardel-sim.exe ] || { echo "$program needs $dll" >&2; status=1; } ;;
      *) echo "$program needs $dll" >&2; status=1 ;;
    esac
  done
done
exit $status
