#!/usr/bin/env bash
# Cross-builds vardel1.exe and vardel3.exe with MinGW-w64, warnings as
# errors, and packs them with their notice into a zip for Windows users.
# Usage: scripts/build-windows.sh [build folder]   (default: build-windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-windows"}

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DVARDEL_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G ZIP >/dev/null)
echo "Windows programs: $build/vardel1.exe $build/vardel3.exe"
echo "Package: $(ls "$build"/*.zip)"
