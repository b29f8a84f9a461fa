#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each one briefly on
# a copy of its seed corpus (fuzz/corpus/<target>/ stays as it is). Fails on
# any finding; the input that caused it is kept in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds per target]   (default 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
seconds="${1:-5}"

"$root/scripts/install-deps.sh" cmake make clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
  -DVARDEL_FUZZ=ON -DVARDEL_TESTS=OFF -DVARDEL_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target vardel_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings="$build/findings"
mkdir -p "$findings"
failed=0
passed=0
for corpus in "$root"/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  cp -R "$corpus" "$work/$name"
  log="$work/$name.log"
  if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
       -artifact_prefix="$findings/$name-" "$work/$name" >"$log" 2>&1 </dev/null; then
    echo "fuzz_$name: $(grep -Eo 'Done [0-9]+ runs' "$log" | tail -n 1), no finding"
    passed=$((passed + 1))
  else
    echo "fuzz_$name: FINDING"
    tail -n 40 "$log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
