#!/usr/bin/env bash
# Checks a Windows zip: every file it must hold, one folder named like the
# zip, texts and batch files with Windows line ends only, texts that speak
# Windows (no Linux-only word, no word split across lines), and the guide
# and the manual covering what a first user needs.
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

texts=(README-windows.txt vardel-sim-guide.txt vardel-manual.txt vardel-find-manual.txt)
batches=(examples/log_ead.cmd examples/read_ead.cmd)
for file in bin/vardel1.exe bin/vardel3.exe bin/vardel-sim.exe bin/vardel-find.exe "${texts[@]}" "${batches[@]}"; do
  [ -s "$work/$name/$file" ] || fail "lacks $file"
done
for text in "${texts[@]}" "${batches[@]}"; do
  # A line feed without its carriage return, or a last line without either.
  if LC_ALL=C grep -q $'[^\r]$' "$work/$name/$text" || [ -n "$(tail -c 1 "$work/$name/$text" | tr -d '\n')" ]; then
    fail "$text has lines that don't end in CR LF"
  fi
done
for text in "${texts[@]}"; do
  # A word cut by hyphenation ("LC_NU-" / "MERIC") that Notepad's Find misses.
  if cut=$(LC_ALL=C grep -n $'[[:alpha:]]-\r$' "$work/$name/$text"); then
    fail "$text breaks words across lines: $cut"
  fi
  # Paths, settings and commands of Linux, which mean nothing on Windows.
  for word in /dev/ LC_ALL LC_NUMERIC LANG export iconv --link /usr/share flock TIOCEXCL dialout; do
    if found=$(LC_ALL=C grep -nF -- "$word" "$work/$name/$text"); then
      fail "$text names '$word', which is Linux's: $found"
    fi
  done
done
guide="$work/$name/vardel-sim-guide.txt"
for topic in 'certutil -hashfile' 'SHA256SUMS' 'Extract All' 'cd /d' 'More info' 'Run anyway' \
             'setupc install PortName=COM1 PortName=COM2' 'test-signed' 'vardel-sim.exe --port COM2' \
             '--scenario demo' '--set "analog 1 700"' '>\\.\pipe\vardel echo' 'chcp 1252' 'for /f' \
             '>>readings.csv echo' 'examples\read_ead.cmd' 'examples\log_ead.cmd' 'VARDEL_TRACE' 'Port Settings' \
             'Advanced...' 'Latency' 'vardel-find.exe' 'setx VARDEL_COM1 COM7'; do
  grep -qF -- "$topic" "$guide" || fail "vardel-sim-guide.txt doesn't mention '$topic'"
done
manual="$work/$name/vardel-manual.txt"
for topic in 'vardel1.exe' 'dans le module vardel1.exe' 'COM1' 'Region' 'double quotes' 'chcp 1252' \
             'VARDEL_TRACE' 'for /f'; do
  grep -qF -- "$topic" "$manual" || fail "vardel-manual.txt doesn't mention '$topic'"
done
# cmd doesn't know single quotes: every example quotes with double ones
# (a quoted acknowledgement, 'LINE': ok, is no command).
for text in "$guide" "$manual" "$work/$name/vardel-find-manual.txt"; do
  if found=$(tr -d '\r' <"$text" | grep -nE -- "--set '|echo '|[[:alnum:]] '[[:alnum:] ,.]+'( |$)"); then
    fail "$(basename "$text") quotes a command with single quotes: $found"
  fi
done
echo "$zip: $(find "$work/$name" -type f | wc -l) files, texts with CR LF line ends, no Linux word, no split word"
