#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-test"
jobs=$(nproc)

"$root/scripts/install-deps.sh"
"$root/scripts/install-deps.sh" g++-mingw-w64-x86-64-win32 wine64 wine socat
"$root/scripts/install-deps.sh" python3 gnuplot-nox
# The cross build with a plain toolchain file (test plain_cross_toolchain_configures).
"$root/scripts/install-deps.sh" g++-i686-linux-gnu dpkg-dev
"$root/scripts/build-windows.sh" "$root/build-windows"
# The VM tests are part of this build, chosen by their label: the suite
# leaves them out, and they run alone after it.
cmake -S "$root" -B "$build" -DVARDEL_WERROR=ON -DVARDEL_VM_TESTS=ON \
  -DVARDEL_WINE_TESTS=ON -DVARDEL_WINDOWS_BUILD_DIR="$root/build-windows" >/dev/null
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" -j"$jobs" -LE vm --output-on-failure

# The programs on a real kernel's UART and USB serial drivers, in a QEMU guest
# (tests/vm; about a minute, without KVM).
"$root/scripts/install-deps.sh" qemu-system-x86 busybox-static cpio socat xz-utils
ctest --test-dir "$build" -L vm --output-on-failure

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# stopping at the first error; the exact real text reference compares fewer
# doubles there (the fuzz target of the real text covers the rest).
asan="$root/build-asan"
cmake -S "$root" -B "$asan" -DVARDEL_SANITIZE=ON -DVARDEL_WERROR=ON >/dev/null
cmake --build "$asan" -j"$jobs"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  VARDEL_REFERENCE_COUNT=30000 ctest --test-dir "$asan" -j"$jobs" --output-on-failure

"$root/scripts/fuzz.sh"

# The other targets, each built and tested by scripts/build-target.sh:
# Linux x86 32-bit, ARM 32- and 64-bit under qemu-user, Windows x86 32-bit
# (built, imports checked, its Wine tests run under 32-bit Wine in a Debian
# root of its own, made once under build-i686-windows/ by
# scripts/wine32-root.sh; as root only, skipped with a message otherwise) and
# clang on x86-64.
for target in i686-linux armhf-linux aarch64-linux i686-windows clang; do
  started=$(date +%s)
  "$root/scripts/build-target.sh" "$target"
  echo "$target: $(( ($(date +%s) - started) / 60 )) min"
done

# The Debian packages of this machine and of the Linux cross targets, each
# checked unpacked in a temporary folder (nothing is installed); the amd64
# package and the Windows zip built a second time, from a copy of the
# sources, and compared byte for byte; then the benchmark once on the
# package's programs: its figures never fail the run.
for target in native i686-linux armhf-linux aarch64-linux; do
  "$root/scripts/check-package.sh" "$target"
done
"$root/scripts/check-reproducible.sh"
"$root/scripts/bench.sh" "$root/build-package/cmake" || echo "bench: could not run the benchmark"
