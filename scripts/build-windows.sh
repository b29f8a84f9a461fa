#!/usr/bin/env bash
# Cross-builds vardel1.exe and vardel3.exe with MinGW-w64, warnings as
# errors, and packs them with their notice and the manual (rendered by groff)
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
listing=$(cmake -E tar tf "$zip")
for file in bin/vardel1.exe bin/vardel3.exe README-windows.txt vardel-manual.txt; do
  grep -q "/$file\$" <<<"$listing" || { echo "$zip lacks $file"; exit 1; }
done
echo "Windows programs: $build/vardel1.exe $build/vardel3.exe"
echo "Package: $zip (checksum in $build/SHA256SUMS)"
