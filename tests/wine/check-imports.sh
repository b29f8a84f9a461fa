#!/bin/sh
# Fails when a Windows program needs a DLL that Windows doesn't bring
# (a compiler runtime that wasn't linked in statically); ADVAPI32.dll only
# for vardel-find.exe (the registry) and vardel-sim.exe (its control pipe's
# security descriptor). With --list, also
# when a program imports a function that the list doesn't hold for its
# architecture, or that the list dates after the architecture's oldest
# Windows (tests/wine/driver-imports.txt says how).
#   check-imports.sh OBJDUMP [--list FILE] PROGRAM.exe ...
set -eu
objdump=$1
shift
list=""
if [ "${1:-}" = --list ]; then
  list=$2
  shift 2
fi
status=0

# The imports of a program, one "dll function" a line, the DLL in lower case.
imports() {
  "$objdump" -p "$1" | awk '
    /^[[:space:]]*DLL Name:/ { dll = tolower($3); next }
    /^[[:space:]]*$/ { next }
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $NF }'
}

# x86 or x64, from the file format.
architecture() {
  case $("$objdump" -f "$1") in
    *pei-i386*) echo x86 ;;
    *pei-x86-64*) echo x64 ;;
    *) echo unknown ;;
  esac
}

# The newest Windows the list may name for an architecture's functions.
allowed() {
  case "$1:$2" in
    x86:2000 | x86:XP | x64:2000 | x64:XP | x64:Vista | x64:x64 | *:pinned) return 0 ;;
    *) return 1 ;;
  esac
}

for program in "$@"; do
  dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -n "$dlls" ] || { echo "$program: no imports found" >&2; status=1; }
  for dll in $dlls; do
    case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
      kernel32.dll | msvcrt.dll | api-ms-win-crt-*.dll | ucrtbase.dll) ;;
      advapi32.dll)
        # Every Windows has it too: vardel-find.exe reads the registry with
        # it, and vardel-sim.exe makes its control pipe's security descriptor.
        case $(basename "$program") in
          vardel-find.exe | vardel-sim.exe) ;;
          *) echo "$program needs $dll" >&2; status=1 ;;
        esac ;;
      *) echo "$program needs $dll" >&2; status=1 ;;
    esac
  done
  [ -n "$list" ] || continue
  arch=$(architecture "$program")
  found=$(imports "$program")
  [ -n "$found" ] || { echo "$program: no imported functions found" >&2; status=1; }
  unlisted=$(echo "$found" | while read -r dll function; do
    entry=$(awk -v d="$dll" -v f="$function" -v a="$arch" '
      !/^#/ && tolower($1) == d && $2 == f && ($3 == a || $3 == "both") { print $4; exit }' "$list")
    if [ -z "$entry" ]; then
      echo "$program ($arch) imports $dll $function, which $list doesn't list for $arch"
    elif ! allowed "$arch" "$entry"; then
      echo "$program ($arch) imports $dll $function, listed for Windows $entry: newer than the $arch floor"
    fi
  done)
  if [ -n "$unlisted" ]; then
    echo "$unlisted" >&2
    status=1
  fi
done
exit $status
