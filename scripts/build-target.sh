#!/usr/bin/env bash
# Builds the programs for one target, warnings as errors, and tests them on
# this machine (Debian x86-64): the unit tests and the end-to-end tests
# against the simulated device, which always runs natively.
# Usage: scripts/build-target.sh [--install-wine32] TARGET [build folder]
#   (default folder: build-TARGET)
#   native          x86-64 Linux with g++
#   clang           x86-64 Linux with clang++
#   i686-linux      Linux x86 32-bit (run by the x86-64 kernel)
#   armhf-linux     Linux ARM 32-bit, e.g. Raspberry Pi OS (run under qemu-arm)
#   aarch64-linux   Linux ARM 64-bit (run under qemu-aarch64)
#   x86_64-windows  Windows 64-bit: vardel1.exe, vardel3.exe, vardel-sim.exe, vardel-1.0.0-windows-x86_64.zip
#   i686-windows    Windows x86 32-bit: the same, vardel-1.0.0-windows-x86.zip
# The Windows targets are built, their imports and their zip's contents
# checked (scripts/check-windows-zip.sh). The Wine tests of x86_64-windows
# are run by the test command; those of i686-windows here, under 32-bit
# Wine in a Debian root of its own under the build folder (made once by
# scripts/wine32-root.sh; needs root, skipped with a message otherwise), or
# under the machine's own wine32:i386 where it is installed (--install-wine32
# installs it, adding the i386 architecture to dpkg; see README).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
install_wine32=false
if [ "${1:-}" = --install-wine32 ]; then
  install_wine32=true
  shift
fi
target=${1:?"usage: $0 [--install-wine32] TARGET [build folder]"}
if "$install_wine32" && [ "$target" != i686-windows ]; then
  echo "$0: --install-wine32 is for the target i686-windows" >&2
  exit 2
fi
build=${2:-"$root/build-$target"}
jobs=$(nproc)

toolchain=""
packages=()
compiler=()
case "$target" in
  native) ;;
  clang) packages=(clang); compiler=(-DCMAKE_CXX_COMPILER=clang++) ;;
  i686-linux) toolchain=linux-i686.cmake; packages=(g++-i686-linux-gnu) ;;
  armhf-linux) toolchain=linux-armhf.cmake; packages=(g++-arm-linux-gnueabihf qemu-user) ;;
  aarch64-linux) toolchain=linux-aarch64.cmake; packages=(g++-aarch64-linux-gnu qemu-user) ;;
  x86_64-windows) toolchain=mingw-w64-x86_64.cmake; packages=(g++-mingw-w64-x86-64-win32) ;;
  i686-windows) toolchain=mingw-w64-i686.cmake; packages=(g++-mingw-w64-i686-win32) ;;
  *) echo "$0: unknown target $target" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh"
[ ${#packages[@]} -eq 0 ] || "$root/scripts/install-deps.sh" "${packages[@]}"

# The x86 programs' Wine tests (the Windows unit tests, the end-to-end tests
# against the simulated device and the Linux programs of a native build)
# under 32-bit Wine. Wine runs in a Debian root of its own, made once under
# the build folder (scripts/wine32-root.sh), unless --install-wine32 put
# wine32:i386 on this machine; entering the root needs root.
wine32Tests() {
  if "$install_wine32"; then "$root/scripts/install-deps.sh" wine32:i386; fi
  local wineRoot=()
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "$target: the x86 programs' Wine tests were SKIPPED: they run 32-bit Wine in a Debian root of its own"
      echo "$target: (chroot and bind mounts), which needs root; run this script as root to run them"
      return 0
    fi
    local started=$SECONDS
    "$root/scripts/wine32-root.sh" setup "$build/wine32-root"
    echo "$target: the root for 32-bit Wine, $build/wine32-root: $((SECONDS - started)) s"
    wineRoot=(-DVARDEL_WINE_ROOT="$build/wine32-root")
  fi
  # The pseudo-terminal pair of vardel-sim.exe's tests.
  "$root/scripts/install-deps.sh" socat
  local host="$root/build-host-wine32"
  cmake -S "$root" -B "$host" -DVARDEL_WERROR=ON -DVARDEL_WINE_TESTS=ON -DVARDEL_WINE_ARCH=win32 \
    -DVARDEL_WINDOWS_BUILD_DIR="$build" "${wineRoot[@]}" >/dev/null
  cmake --build "$host" -j"$jobs" --target vardel_wine_tests vardel_japanese_locale
  ctest --test-dir "$host" -L wine -j"$jobs" --output-on-failure
}

configure=(-S "$root" -B "$build" -DVARDEL_WERROR=ON "${compiler[@]}")
[ -z "$toolchain" ] || configure+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain")

case "$target" in
  *-windows)
    "$root/scripts/install-deps.sh" zip
    cmake "${configure[@]}" -DCMAKE_PROJECT_INCLUDE="$root/cmake/reproducible.cmake" >/dev/null
    cmake --build "$build" -j"$jobs"
    cmake --build "$build" --target vardel_zip >/dev/null
    triplet=$( [ "$target" = i686-windows ] && echo i686-w64-mingw32 || echo x86_64-w64-mingw32 )
    sh "$root/tests/wine/check-imports.sh" "$triplet-objdump" "$build/vardel1.exe" "$build/vardel3.exe" \
      "$build/vardel-sim.exe"
    sh "$root/tests/wine/check-imports.sh" "$triplet-objdump" --list "$root/tests/wine/driver-imports.txt" \
      "$build/vardel1.exe" "$build/vardel3.exe"
    echo "$target: $build/vardel1.exe $build/vardel3.exe $build/vardel-sim.exe, only system DLLs imported," \
      "the drivers only the functions of tests/wine/driver-imports.txt"
    "$root/scripts/check-windows-zip.sh" "$(ls "$build"/vardel-*windows-*.zip)"
    echo "$target: package $(ls "$build"/vardel-*windows-*.zip)"
    if [ "$target" = i686-windows ]; then wine32Tests; fi
    ;;
  *-linux)
    # The simulated device of a native build, for the end-to-end tests.
    host="$root/build-host-sim"
    cmake -S "$root" -B "$host" -DVARDEL_TESTS=OFF >/dev/null
    cmake --build "$host" -j"$jobs" --target vardel-sim
    cmake "${configure[@]}" -DVARDEL_SIM_PROGRAM="$host/vardel-sim" >/dev/null
    cmake --build "$build" -j"$jobs"
    ctest --test-dir "$build" -j"$jobs" --output-on-failure
    ;;
  *)
    cmake "${configure[@]}" >/dev/null
    cmake --build "$build" -j"$jobs"
    ctest --test-dir "$build" -j"$jobs" --output-on-failure
    ;;
esac
