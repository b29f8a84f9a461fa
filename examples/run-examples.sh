#!/usr/bin/env bash
# Runs the examples against the simulated device and checks what they print;
# the plot is made, not compared.
#
# Usage: examples/run-examples.sh BUILD_DIR OUTPUT_DIR
# Exits 77 (skipped) when python3 or gnuplot is missing.
set -euo pipefail

for tool in python3 gnuplot; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

build=$(cd "${1:?usage: run-examples.sh BUILD_DIR OUTPUT_DIR}" && pwd)
mkdir -p "${2:?usage: run-examples.sh BUILD_DIR OUTPUT_DIR}"
output=$(cd "$2" && pwd)
examples=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/vardel-examples-XXXXXX")
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }

# The simulator prints "ready PATH" once it answers.
exec 3< <(exec "$build/vardel-sim" --link "$work/com1" --scenario "$examples/sine.scenario")
sim_pid=$!
read -r -t 10 ready <&3 || fail "the simulator did not start"
[ "$ready" = "ready $work/com1" ] || fail "the simulator said '$ready'"

export VARDEL1="$build/vardel1" VARDEL_COM1="$work/com1" PYTHONIOENCODING=utf-8 LC_ALL=C

# A converted value, its sensor's name decoded from Windows-1252.
out=$(python3 "$examples/read_value.py" 0) || fail "read_value.py 0: status $?"
echo "read_value.py 0: $out"
[[ "$out" =~ ^pH:\ [0-9.e+-]+$ ]] || fail "read_value.py 0 printed '$out'"

# A failure report (exit status 1 of the driver) is not a reading.
status=0
out=$(python3 "$examples/read_value.py" 1x) || status=$?
echo "read_value.py 1x: $out"
[ "$status" -eq 3 ] || fail "read_value.py 1x: status $status"
[[ "$out" == *"EConvertError"* ]] || fail "read_value.py 1x printed '$out'"

# No device: the -777 marker, after the time-out.
status=0
out=$(VARDEL_COM1="$work/no-device" python3 "$examples/read_value.py" 0) || status=$?
echo "read_value.py 0, no device: $out"
[ "$status" -eq 2 ] || fail "read_value.py 0 without a device: status $status"
[[ "$out" == *"-777"* ]] || fail "read_value.py 0 without a device printed '$out'"

# Four seconds of readings, two periods of the sine.
log="$output/sine-log.csv"
sh "$examples/log_ead.sh" 4 0 > "$log" || fail "log_ead.sh: status $?"
lines=$(($(wc -l < "$log") - 1))
echo "log_ead.sh: $lines readings in $log"
[ "$(head -n 1 "$log")" = "time_ms,value" ] || fail "log_ead.sh: no header"
[ "$lines" -ge 10 ] || fail "log_ead.sh: only $lines readings in 4 s"
awk -F, 'NR > 1 { if (min == "" || $2 < min) min = $2; if (max == "" || $2 > max) max = $2 }
         END { printf "pH from %s to %s\n", min, max; exit !(min < 5 && max > 9) }' "$log" ||
    fail "log_ead.sh: the readings don't follow the sine"

# The plot, made but not compared.
png="$output/sine-plot.png"
gnuplot -e "log='$log'; png='$png'" "$examples/plot_log.gp" || fail "plot_log.gp: status $?"
[ "$(head -c 4 "$png" | od -An -c | tr -d ' ')" = "211PNG" ] || fail "plot_log.gp made no PNG"
echo "plot: $png"
