#!/usr/bin/env bash
# Builds the Debian package of a target and checks it without installing it:
# unpacks it into a temporary folder, runs the unpacked programs (through
# qemu-user or the target's dynamic loader for a cross target), checks its
# architecture and that its libc6 dependency covers every GLIBC symbol
# version the programs require, renders the manual pages with groff's
# warnings on, and runs lintian (an error fails).
# Usage: scripts/check-package.sh [TARGET]   (as scripts/build-package.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-native}
# shellcheck source=scripts/linux-target.sh
. "$root/scripts/linux-target.sh"
linux_target "$target"

"$root/scripts/install-deps.sh" dpkg-dev file lintian groff-base man-db
"$root/scripts/build-package.sh" "$target"
deb=$(ls "$root"/build-package/vardel_*_"$deb_arch".deb)
version=$(dpkg-deb -f "$deb" Version)
name=$(basename "$deb")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
bin="$work/root/usr/bin"
for program in vardel1 vardel3 vardel-sim vardel-find; do
  [ -x "$bin/$program" ] || { echo "$name: /usr/bin/$program missing"; exit 1; }
done
"${runner[@]}" "$bin/vardel1" titre >"$work/title"
printf 'Orphy portable2, Com1:\r\n' | cmp -s - "$work/title" ||
  { echo "$name: vardel1 titre printed '$(cat -v "$work/title")'"; exit 1; }
[ "$("${runner[@]}" "$bin/vardel-sim" --version)" = "vardel-sim $version" ] ||
  { echo "$name: vardel-sim --version is not $version"; exit 1; }
[ "$("${runner[@]}" "$bin/vardel-find" --version)" = "vardel-find $version" ] ||
  { echo "$name: vardel-find --version is not $version"; exit 1; }
echo "$name: unpacked vardel1 titre, vardel-sim --version and vardel-find --version ($version) answer"

# The architecture is the target's, and libc6 is asked for at least at the
# highest version any program's symbols require (read with the target's
# objdump).
[ "$(dpkg-deb -f "$deb" Architecture)" = "$deb_arch" ] ||
  { echo "$name: architecture $(dpkg-deb -f "$deb" Architecture), not $deb_arch"; exit 1; }
needed=$("${triplet:+$triplet-}objdump" -p "$bin"/* | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -uV | tail -n 1)
depends=$(dpkg-deb -f "$deb" Depends)
stated=$(sed -n 's/^libc6 (>= \([0-9.]*\)).*/\1/p' <<<"$depends")
if [ -z "$stated" ] || [ "$(printf '%s\n' "$stated" "$needed" | sort -V | head -n 1)" != "$needed" ]; then
  echo "$name: Depends '$depends' does not cover GLIBC_$needed"; exit 1
fi
echo "$name: Architecture $deb_arch, Depends $depends (the programs need GLIBC_$needed)"

# vardel3.1 is a .so link, read from the top of the manual tree.
cd "$work/root/usr/share/man"
for page in man1/vardel1.1.gz man1/vardel3.1.gz man1/vardel-sim.1.gz man1/vardel-find.1.gz; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/page.txt" 2>"$work/warnings.txt"
  if [ -s "$work/warnings.txt" ] || [ ! -s "$work/page.txt" ]; then
    echo "$name: $page renders with warnings:"
    cat "$work/warnings.txt"
    exit 1
  fi
done
echo "$name: manual pages render without a warning"

# lintian fails on errors only; warnings and notes are shown.
if lintian --info "$deb" >"$work/lintian.txt" 2>&1; then
  status=0
else
  status=$?
fi
grep -v '^running with root privileges' "$work/lintian.txt" || true
echo "$name: lintian $(grep -c '^E:' "$work/lintian.txt" || true) errors, $(grep -c '^W:' "$work/lintian.txt" || true) warnings"
exit "$status"
