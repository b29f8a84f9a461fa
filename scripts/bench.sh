#!/usr/bin/env bash
# The cost of a run, measured against what a run can't go below, each figure
# the median of paired runs (scripts/bench-pairs.cpp), with its target and a
# mark. A benchmark, not a test: it exits 0 whatever the figures, and only a
# failure to build or to run marks it failed.
# Usage: scripts/bench.sh [folder with vardel1 and vardel-sim]
#        (default: a Release build in build-bench/)
# PAIRS (default 60) sets the pairs of the short runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pairs=${PAIRS:-60}

if [ $# -ge 1 ]; then
  programs=$(cd "$1" && pwd)
else
  programs="$root/build-bench"
  cmake -S "$root" -B "$programs" -DCMAKE_BUILD_TYPE=Release -DVARDEL_TESTS=OFF >/dev/null
  cmake --build "$programs" -j"$(nproc)" --target vardel1 vardel-sim >/dev/null
fi
work=$(mktemp -d)
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT

timer="$work/bench-pairs"
g++ -std=c++20 -O2 -Wall -Wextra -o "$timer" "$root/scripts/bench-pairs.cpp"

# start NAME scenario-options...: a simulated device at $work/NAME
start() {
  local name=$1
  shift
  mkfifo "$work/$name.ready"
  "$programs/vardel-sim" --link "$work/$name" "$@" >"$work/$name.ready" &
  sims+=($!)
  read -r _ <"$work/$name.ready"
}
start instant --scenario demo
start paced --scenario demo --set 'baud 9600'
start silent --scenario silent

vardel1="$programs/vardel1"
# Each call: wall_ref wall_sub ratio diff cpu_ref cpu_sub cpu_ratio rss_max_kib
read -r t_true t_titre r_titre _ _ _ _ rss1 < <("$timer" "$pairs" /bin/true -- "$vardel1" titre)
read -r t_true_ea t_ea _ d_ea _ _ _ rss2 < <("$timer" "$pairs" /bin/true -- VARDEL_COM1="$work/instant" "$vardel1" ea 1)
read -r _ _ _ _ c_sleep c_wait r_wait rss3 < <("$timer" 5 /bin/sleep 1 -- VARDEL_COM1="$work/silent" "$vardel1" ea 1)
read -r _ _ _ d_paced _ _ _ rss4 < <("$timer" $((pairs / 2)) \
  VARDEL_COM1="$work/instant" "$vardel1" ead 1 -- VARDEL_COM1="$work/paced" "$vardel1" ead 1)

# The bytes the device sent in that run, from the driver's trace: each
# escape (\r, \xHH, \\) is one byte.
VARDEL_TRACE="$work/trace" VARDEL_COM1="$work/paced" "$vardel1" ead 1 >/dev/null
reply_bytes=$(sed -n 's/.*: received "\(.*\)"$/\1/p' "$work/trace" |
  sed -e 's/\\x[0-9A-Fa-f][0-9A-Fa-f]/./g' -e 's/\\././g' | tr -d '\n' | wc -c)
wire=$(awk -v b="$reply_bytes" 'BEGIN { printf "%.3f", b * 10 / 9600 * 1000 }')
rss=$(printf '%s\n' "$rss1" "$rss2" "$rss3" "$rss4" | sort -n | tail -n 1)

failed=0
# line FIGURE MEASURED TARGET PASSES(1/0)
line() {
  local mark=pass
  [ "$4" -eq 1 ] || { mark=FAIL; failed=$((failed + 1)); }
  printf '%-58s %-34s %-16s %s\n' "$1" "$2" "$3" "$mark"
}
ok() { awk "BEGIN { exit !($1) }" && echo 1 || echo 0; }

echo "vardel benchmark: median of the per-pair ratio or difference ($pairs pairs; 5 for the"
echo "time-out; $((pairs / 2)) for ead); in brackets the medians of each side"
printf '%-58s %-34s %-16s %s\n' "figure" "measured" "target" "mark"
line "vardel1 titre against /bin/true" \
  "$(printf '%.2fx (%.2f / %.2f ms)' "$r_titre" "$t_titre" "$t_true")" "<= 1.5x" \
  "$(ok "$r_titre <= 1.5")"
line "vardel1 ea 1, device answering at once, against /bin/true" \
  "$(printf 'true + %.2f ms (%.2f / %.2f ms)' "$d_ea" "$t_ea" "$t_true_ea")" "<= true + 1.5 ms" \
  "$(ok "$d_ea <= 1.5")"
line "CPU of vardel1 ea 1 waiting out the time-out, vs sleep 1" \
  "$(printf '%.2fx (%.2f / %.2f ms)' "$r_wait" "$c_wait" "$c_sleep")" "<= 1.5x" \
  "$(ok "$r_wait <= 1.5")"
line "vardel1 ead 1 at 9600 baud less at once, vs wire time" \
  "$(printf '%.2f ms for %.2f ms, %d bytes' "$d_paced" "$wire" "$reply_bytes")" "<= wire + 1 ms" \
  "$(ok "$d_paced <= $wire + 1")"
line "peak resident memory of a run" \
  "$(awk -v k="$rss" 'BEGIN { printf "%.2f MiB (%d KiB)", k / 1024, k }')" "<= 4 MiB" \
  "$(ok "$rss <= 4096")"
if [ "$failed" -eq 0 ]; then
  echo "bench: every figure meets its target"
else
  echo "bench: $failed figure(s) over target (a benchmark: this fails nothing)"
fi
