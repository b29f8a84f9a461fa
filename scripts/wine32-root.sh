#!/usr/bin/env bash
# A Debian 12 root of its own for the x86 programs' Wine tests: 32-bit Wine
# (wine32:i386) from the main archive alone, apart from this machine's
# packages. Installed on the machine itself, wine32 would add the i386
# architecture to dpkg, and its i386 libraries must equal the amd64 ones,
# which carry security updates that the archive has no i386 build of here.
#
#   scripts/wine32-root.sh setup ROOT
#     Creates ROOT once (debootstrap --variant=minbase bookworm, then the
#     i386 architecture and wine32:i386, --no-install-recommends) and keeps
#     it; a set-up that was cut short starts again.
#   scripts/wine32-root.sh run ROOT DIR... -- COMMAND [ARGUMENT...]
#     Runs COMMAND inside ROOT, with /proc, /dev, /dev/pts and each DIR
#     bound at its own path, in a mount namespace of its own: the binds end
#     with the command, whatever way it ends. COMMAND keeps its process id,
#     its environment and its working folder (when the root shows it).
#
# Both need root (debootstrap, chroot, mount).
set -euo pipefail
# The machine's own Debian mirror, as its apt sources name it (deb822 or
# one-line form), unless VARDEL_DEBIAN_MIRROR names another.
machineMirror() {
  cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
    grep -Eo '(URIs:[[:space:]]*|^deb[[:space:]]+)[a-z]+://[^[:space:]]*/debian/?([[:space:]]|$)' |
    grep -Eo '[a-z]+://[^[:space:]]*' | head -n 1
}
mirror=${VARDEL_DEBIAN_MIRROR:-$(machineMirror)}
ready=.vardel-wine32-ready

usage() {
  echo "usage: $0 setup ROOT | run ROOT DIR... -- COMMAND [ARGUMENT...]" >&2
  exit 2
}

# Runs a command in the root with the binds (see above).
inRoot() {
  local root=$1
  shift
  local dirs=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    dirs+=("$(realpath "$1")")
    shift
  done
  [ $# -gt 1 ] || usage
  shift
  # chroot is in sbin, which a caller's PATH may not hold.
  local chroot
  chroot=$(PATH="/usr/sbin:/sbin:$PATH" command -v chroot)
  exec unshare --mount --propagation private /bin/sh -c '
    set -e
    chroot=$1 root=$2 count=$3
    shift 3
    mount -t proc proc "$root/proc"
    mount --bind /dev "$root/dev"
    mount --bind /dev/pts "$root/dev/pts"
    while [ "$count" -gt 0 ]; do
      mkdir -p "$root$1"
      mount --bind "$1" "$root$1"
      shift
      count=$((count - 1))
    done
    exec "$chroot" "$root" /bin/sh -c "cd \"\$1\" 2>/dev/null; shift; exec \"\$@\"" inRoot "$PWD" "$@"
  ' inRoot "$chroot" "$root" "${#dirs[@]}" "${dirs[@]}" "$@"
}

setup() {
  local root=$1
  [ -f "$root/$ready" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$0: the root for 32-bit Wine needs root to be made (debootstrap, chroot)" >&2
    return 1
  fi
  if [ -z "$mirror" ]; then
    echo "$0: no Debian mirror in the apt sources; set VARDEL_DEBIAN_MIRROR" >&2
    return 1
  fi
  "$(dirname "$0")/install-deps.sh" debootstrap
  rm -rf "$root"
  mkdir -p "$root"
  SECONDS=0
  echo "wine32 root: debootstrap --variant=minbase bookworm into $root"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -20 "$root.debootstrap.log" >&2; return 1; }
  echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
  echo "wine32 root: debootstrap took $SECONDS s; adding i386, installing wine32:i386"
  local installing=$SECONDS
  (
    inRoot "$root" -- /bin/sh -c 'dpkg --add-architecture i386 && apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine32:i386 </dev/null &&
      apt-get clean'
  ) >"$root.install.log" 2>&1 || { tail -20 "$root.install.log" >&2; return 1; }
  test -x "$root/usr/lib/wine/wine" && test -x "$root/usr/lib/wine/wineserver"
  touch "$root/$ready"
  echo "wine32 root: wine32 took $((SECONDS - installing)) s; ready, $(du -sh --one-file-system "$root" | cut -f1)"
}

action=${1:-}
[ $# -ge 2 ] || usage
case "$action" in
  setup) setup "$2" ;;
  run) shift; inRoot "$@" ;;
  *) usage ;;
esac
