#!/usr/bin/env bash
# A cross build with a toolchain file that names only the compilers and the
# find roots, and no variable of this project, as a board's SDK brings one:
#   - for i686, it configures, builds the drivers for the target, and packs
#     for the target's Debian architecture, i386;
#   - where the compiler's target is one Debian has no architecture for, or
#     dpkg-architecture is missing, it configures without the package
#     targets and says why in one line.
# Usage: check-plain-toolchain.sh CMAKE SOURCE_DIR WORK_DIR
# Exit status 77 (skipped) without g++-i686-linux-gnu or dpkg-dev.
set -euo pipefail
cmake=$1 source=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
for tool in i686-linux-gnu-g++ dpkg-architecture; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool (g++-i686-linux-gnu, dpkg-dev)"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# configure NAME TOOLCHAIN [cmake arguments]: a fresh build in WORK_DIR/NAME,
# its output in WORK_DIR/NAME.log.
configure() {
  local name=$1 toolchain=$2
  shift 2
  "$cmake" -S "$source" -B "$work/$name" -DCMAKE_TOOLCHAIN_FILE="$here/$toolchain" -DVARDEL_TESTS=OFF "$@" \
    >"$work/$name.log" 2>&1 || { cat "$work/$name.log"; fail "$name: configure failed"; }
}
# without_package NAME REASON: one line saying why, and no package target.
without_package() {
  local name=$1 reason=$2 lines
  lines=$(grep -c "No Debian package target" "$work/$name.log" || true)
  [ "$lines" = 1 ] || { cat "$work/$name.log"; fail "$name: $lines lines about the package, not 1"; }
  grep -qF -- "-- No Debian package target: $reason" "$work/$name.log" ||
    { cat "$work/$name.log"; fail "$name: the reason is not \"$reason\""; }
  [ ! -e "$work/$name/CPackConfig.cmake" ] || fail "$name: CPack was set up all the same"
  echo "$name: configured without the package: $reason"
}

configure i686 plain-i686.cmake
! grep -q "No Debian package target" "$work/i686.log" || { cat "$work/i686.log"; fail "i686: no package"; }
"$cmake" --build "$work/i686" -j2 --target vardel1 vardel3 >"$work/i686-build.log" 2>&1 ||
  { cat "$work/i686-build.log"; fail "i686: the drivers did not build"; }
for program in vardel1 vardel3; do
  # ELF class (byte 4: 1 for 32-bit) and machine (bytes 18-19: 3, x86).
  class=$(od -An -tu1 -j4 -N1 "$work/i686/$program" | tr -d ' ')
  machine=$(od -An -tu2 -j18 -N2 "$work/i686/$program" | tr -d ' ')
  [ "$class/$machine" = 1/3 ] || fail "i686: $program is not a 32-bit x86 program (class $class, machine $machine)"
done
grep -qx 'set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "i386")' "$work/i686/CPackConfig.cmake" ||
  fail "i686: the package is not for i386: $(grep CPACK_DEBIAN_PACKAGE_ARCHITECTURE "$work/i686/CPackConfig.cmake")"
echo "i686: vardel1 and vardel3 built for 32-bit x86, package for i386"

configure unknown-target unknown-target.cmake
without_package unknown-target "dpkg-architecture knows no Debian architecture for sparc-vardel-none"

configure no-dpkg-architecture plain-i686.cmake -DVARDEL_DPKG_ARCHITECTURE=
without_package no-dpkg-architecture "no dpkg-architecture (dpkg-dev) to name the Debian architecture of i686-linux-gnu"
