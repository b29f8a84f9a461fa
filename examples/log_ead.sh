#!/bin/sh
# Logs the converted value of one analog input every 100 ms, as CSV.
#
# Usage: log_ead.sh SECONDS [INPUT] > log.csv
#
# Writes a header "time_ms,value", then one line per reading: the
# milliseconds since the start of the log and `vardel1 ead INPUT` (input 0 by
# default), with a "." for a decimal point. The driver is $VARDEL1, or
# vardel1 on the PATH; the port is the one its VARDEL_COM1 names.
set -eu

seconds=${1:?usage: log_ead.sh SECONDS [INPUT]}
input=${2:-0}
driver=${VARDEL1:-vardel1}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

start=$(now_ms)
end=$(( start + seconds * 1000 ))
next=$start
echo "time_ms,value"
while [ "$next" -lt "$end" ]; do
    at=$(now_ms)
    value=$("$driver" ead "$input" | tr -d '\r' | tr ',' '.')
    echo "$(( at - start )),$value"
    # The next reading 100 ms after the last one was due, however long the
    # run took; a late reading skips the ones it missed.
    next=$(( next + 100 ))
    now=$(now_ms)
    while [ "$next" -le "$now" ]; do next=$(( next + 100 )); done
    sleep "$(( (next - now) / 1000 )).$(printf '%03d' $(( (next - now) % 1000 )))"
done
