#!/usr/bin/env bash
# Checks a Windows zip: every file it must hold, one folder named like the
# zip, texts with Windows line ends only, and the simulator's guide covering
# what a first user needs.
# Usage: scripts/check-windows-zip.sh ZIP
set -euo pipefail
zip=$(cd "$(dirname "${1:?usage: check-windows-zip.sh ZIP}")" && pwd)/$(basename "$1")
name=$(basename "$zip" .zip)
fail() { echo "$zip: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vardel-zip-XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip") || fail "cannot be unpacked"
top=$(find "$work" -mindepth 1 -maxdepth 1 -printf '%f ')
[ "$top" = "$name " ] || fail "holds ${top}instead of the one folder $name"

for file in bin/vardel1.exe bin/vardel3.exe bin/vardel-sim.exe bin/vardel-find.exe README-windows.txt \
            vardel-sim-guide.txt vardel-manual.txt vardel-find-manual.txt; do
  [ -s "$work/$name/$file" ] || fail "lacks $file"
done
for text in README-windows.txt vardel-sim-guide.txt vardel-manual.txt vardel-find-manual.txt; do
  # A line feed without its carriage return, or a last line without either.
  if LC_ALL=C grep -q $'[^\r]$' "$work/$name/$text" || [ -n "$(tail -c 1 "$work/$name/$text" | tr -d '\n')" ]; then
    fail "$text has lines that don't end in CR LF"
  fi
done
guide="$work/$name/vardel-sim-guide.txt"
for topic in 'setupc install PortName=COM1 PortName=COM2' 'test-signed' 'vardel-sim.exe --port COM2' \
             '--scenario demo' 'VARDEL_TRACE' 'Port Settings' 'Advanced...' 'Latency' 'vardel-find.exe' \
             'setx VARDEL_COM1 COM7'; do
  grep -qF -- "$topic" "$guide" || fail "vardel-sim-guide.txt doesn't mention '$topic'"
done
echo "$zip: $(find "$work/$name" -type f | wc -l) files, texts with CR LF line ends"
