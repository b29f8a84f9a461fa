#!/usr/bin/env bash
# Builds the Debian package and checks it without installing it: unpacks it
# into a temporary folder, runs the unpacked programs, renders the manual
# pages with groff's warnings on, and runs lintian (an error fails).
# Usage: scripts/check-package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" dpkg-dev file lintian groff-base man-db
"$root/scripts/build-package.sh"
deb=$(ls "$root"/build-package/vardel_*.deb)
version=$(dpkg-deb -f "$deb" Version)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
bin="$work/root/usr/bin"
for program in vardel1 vardel3 vardel-sim; do
  [ -x "$bin/$program" ] || { echo "package: /usr/bin/$program missing"; exit 1; }
done
"$bin/vardel1" titre >"$work/title"
printf 'Orphy portable2, Com1:\r\n' | cmp -s - "$work/title" ||
  { echo "package: vardel1 titre printed '$(cat -v "$work/title")'"; exit 1; }
[ "$("$bin/vardel-sim" --version)" = "vardel-sim $version" ] ||
  { echo "package: vardel-sim --version is not $version"; exit 1; }
echo "package: unpacked vardel1 titre and vardel-sim --version ($version) answer"

# vardel3.1 is a .so link, read from the top of the manual tree.
cd "$work/root/usr/share/man"
for page in man1/vardel1.1.gz man1/vardel3.1.gz man1/vardel-sim.1.gz; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/page.txt" 2>"$work/warnings.txt"
  if [ -s "$work/warnings.txt" ] || [ ! -s "$work/page.txt" ]; then
    echo "package: $page renders with warnings:"
    cat "$work/warnings.txt"
    exit 1
  fi
done
echo "package: manual pages render without a warning"

# lintian fails on errors only; warnings and notes are shown.
if lintian --info "$deb" >"$work/lintian.txt" 2>&1; then
  status=0
else
  status=$?
fi
grep -v '^running with root privileges' "$work/lintian.txt" || true
echo "package: lintian $(grep -c '^E:' "$work/lintian.txt" || true) errors, $(grep -c '^W:' "$work/lintian.txt" || true) warnings"
exit "$status"
