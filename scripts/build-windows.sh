#!/usr/bin/env bash
# Cross-builds vardel1.exe, vardel3.exe, vardel-sim.exe and vardel-find.exe with MinGW-w64,
# warnings as errors, and packs them with their notice, the simulator's
# guide and the manuals (rendered by groff)
# into a zip for Windows users, the same bytes at every build of a commit
# (cmake/reproducible.cmake, cmake/windows-zip.cmake), with its SHA256SUMS.
# Usage: scripts/build-windows.sh [build folder]   (default: build-windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-windows"}

"$root/scripts/install-deps.sh" groff-base zip

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PROJECT_INCLUDE="$root/cmake/reproducible.cmake" -DVARDEL_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
cmake --build "$build" --target vardel_zip >/dev/null
zip=$(ls "$build"/vardel-*-windows-x86_64.zip)
(cd "$build" && sha256sum "$(basename "$zip")" >SHA256SUMS)
"$root/scripts/check-windows-zip.sh" "$zip"
echo "Windows programs: $build/vardel1.exe $build/vardel3.exe $build/vardel-sim.exe $build/vardel-find.exe"
echo "Package: $zip (checksum in $build/SHA256SUMS)"
