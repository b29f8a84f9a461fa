#!/usr/bin/env bash
# Builds the Debian package with CPack: build-package/vardel_<version>_<arch>.deb
# holding vardel1, vardel3 and vardel-sim, their manual pages, the README and
# docs; dependencies computed from the programs (dpkg-shlibdeps; for a cross
# target from their symbol versions, cmake/debian-libc-depends.cmake).
# Release build with Debian's hardening flags for the target, warnings as
# errors, the same bytes at every build of a commit (cmake/reproducible.cmake,
# times from SOURCE_DATE_EPOCH, by default the last commit's). Then writes
# build-package/SHA256SUMS for every package there.
# Usage: scripts/build-package.sh [TARGET]
#   TARGET: native (default, this machine), i686-linux, armhf-linux or
#   aarch64-linux; its build goes to build-package/cmake (native) or
#   build-package/cmake-TARGET.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-native}
out="$root/build-package"
# shellcheck source=scripts/linux-target.sh
. "$root/scripts/linux-target.sh"
"$root/scripts/install-deps.sh" cmake make dpkg-dev file
linux_target "$target"
"$root/scripts/install-deps.sh" "${compilers[@]}"

if [ "$target" = native ]; then
  build="$out/cmake"
  configure=()
else
  build="$out/cmake-$target"
  configure=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain")
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) ||
    { echo "$0: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
# CPack gives the .deb's own members (debian-binary, control.tar.gz,
# data.tar.gz) the modes of the files it wrote, which follow the umask.
umask 0022

# dpkg's own file name map (of the current folder) is left out: the build's
# maps of the source and build folders replace it.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath"
export DEB_HOST_ARCH="$deb_arch"
flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cmake -S "$root" -B "$build" "${configure[@]}" -DCMAKE_BUILD_TYPE=Release -DVARDEL_TESTS=OFF \
  -DVARDEL_WERROR=ON -DCMAKE_PROJECT_INCLUDE="$root/cmake/reproducible.cmake" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$out"/vardel_*_"$deb_arch".deb
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
(cd "$out" && sha256sum vardel_*.deb >SHA256SUMS)
echo "Package: $(ls "$out"/vardel_*_"$deb_arch".deb) (checksums in $out/SHA256SUMS)"
