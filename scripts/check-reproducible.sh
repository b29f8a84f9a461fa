#!/usr/bin/env bash
# Checks that the Debian package (this machine's) and the 64-bit Windows zip
# are the same bytes when built again: builds them here (build-package/,
# build-windows/; nothing to redo when they are up to date), then once more
# from a copy of the sources in build-reproducible/source/, another folder,
# later, with another umask and time zone. Where the two differ it shows
# diffoscope's report when diffoscope is installed, otherwise the members
# that differ, and fails.
# Usage: scripts/check-reproducible.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
again="$root/build-reproducible"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
"$root/scripts/build-package.sh" >/dev/null
"$root/scripts/build-windows.sh" "$root/build-windows" >/dev/null

# The sources as they are in the worktree (tracked files and new ones not
# ignored), without the git history: the time comes from SOURCE_DATE_EPOCH.
rm -rf "$again"
mkdir -p "$again/source"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp --parents --no-dereference -t "$again/source")
(
  umask 0002
  export TZ=Pacific/Kiritimati
  "$again/source/scripts/build-package.sh" >/dev/null
  "$again/source/scripts/build-windows.sh" "$again/source/build-windows" >/dev/null
)

# One line per member of a .deb or .zip: its name, mode, owner, time and
# size, then the checksum of every file inside.
members() {
  local unpacked
  unpacked=$(mktemp -d)
  case "$1" in
    *.deb)
      ar tv "$1"
      dpkg-deb --ctrl-tarfile "$1" | tar -tv --full-time
      dpkg-deb --fsys-tarfile "$1" | tar -tv --full-time
      dpkg-deb -R "$1" "$unpacked" ;;
    *.zip)
      zipinfo -l "$1" | sed 1d
      unzip -q "$1" -d "$unpacked" ;;
  esac
  (cd "$unpacked" && find . -type f | LC_ALL=C sort | xargs -d '\n' sha256sum)
  rm -rf "$unpacked"
}

status=0
for artifact in build-package/vardel_1.0.0_"$(dpkg --print-architecture)".deb \
                build-windows/vardel-1.0.0-windows-x86_64.zip; do
  first="$root/$artifact" second="$again/source/$artifact"
  if cmp -s "$first" "$second"; then
    echo "reproducible: $artifact the same in both builds ($(sha256sum <"$first" | cut -c1-16)...)"
    continue
  fi
  status=1
  echo "reproducible: $artifact differs between $root and $again/source:"
  if command -v diffoscope >/dev/null; then
    diffoscope --text - "$first" "$second" | head -n 200 || true
  else
    diff <(members "$first") <(members "$second") || true
  fi
done
exit "$status"
