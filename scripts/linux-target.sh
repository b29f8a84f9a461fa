# shellcheck shell=bash disable=SC2034
# Sourced by scripts/build-package.sh and scripts/check-package.sh: what a
# Linux target of a Debian package is, named as in scripts/build-target.sh
# (native is this machine). linux_target TARGET sets
#   triplet     the Debian cross compiler's prefix (empty for native)
#   toolchain   its file in cmake/ (empty for native)
#   deb_arch    the Debian architecture: amd64, i386, armhf, arm64
#   compilers   the Debian packages of its compiler
#   runner      how this machine runs its programs: qemu-user with the cross
#               compiler's libraries, or the target's own dynamic loader
linux_target() {
  runner=()
  case "$1" in
    native) triplet=""; toolchain=""; compilers=(g++) ;;
    i686-linux) triplet=i686-linux-gnu; toolchain=linux-i686.cmake
      compilers=(g++-i686-linux-gnu)
      runner=("/usr/$triplet/lib/ld-linux.so.2" --library-path "/usr/$triplet/lib") ;;
    armhf-linux) triplet=arm-linux-gnueabihf; toolchain=linux-armhf.cmake
      compilers=(g++-arm-linux-gnueabihf qemu-user); runner=(qemu-arm -L "/usr/$triplet") ;;
    aarch64-linux) triplet=aarch64-linux-gnu; toolchain=linux-aarch64.cmake
      compilers=(g++-aarch64-linux-gnu qemu-user); runner=(qemu-aarch64 -L "/usr/$triplet") ;;
    *) echo "unknown target $1 (native, i686-linux, armhf-linux or aarch64-linux)" >&2; exit 2 ;;
  esac
  if [ -n "$triplet" ]; then
    deb_arch=$(dpkg-architecture -t "$triplet" -qDEB_HOST_ARCH)
  else
    deb_arch=$(dpkg --print-architecture)
  fi
}
