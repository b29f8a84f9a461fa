#!/usr/bin/env bash
# Builds the Debian package with CPack: build-package/vardel_<version>_<arch>.deb
# holding vardel1, vardel3 and vardel-sim, their manual pages, the README and
# docs, and dependencies computed from the programs (dpkg-shlibdeps).
# Release build with Debian's hardening flags, warnings as errors.
# Usage: scripts/build-package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-package"
build="$out/cmake"

"$root/scripts/install-deps.sh" cmake g++ make dpkg-dev file
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDEL_TESTS=OFF -DVARDEL_WERROR=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$out"/*.deb
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
echo "Package: $(ls "$out"/*.deb)"
