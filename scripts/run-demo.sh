#!/usr/bin/env bash
# The main job: builds both programs and the simulated device, then reads
# the device the way a calling program would.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DVARDEL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

workdir=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$workdir"' EXIT
mkfifo "$workdir/ready"
"$build/vardel-sim" --link "$workdir/com1" --scenario demo >"$workdir/ready" &
sim=$!
read -r _ <"$workdir/ready"

export VARDEL_COM1="$workdir/com1"
for command in "titre" "detail" "nea 0" "ea 0" "ead 0" "nea 2" "ead 2" "eb 1" "sb 3 1"; do
  printf '%-10s -> ' "vardel1 $command"
  # shellcheck disable=SC2086
  "$build/vardel1" $command | iconv -f WINDOWS-1252 -t UTF-8
done
