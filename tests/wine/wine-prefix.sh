#!/bin/sh
# The Wine prefix that the Windows end-to-end tests share.
#
#   wine-prefix.sh start PREFIX WINE WINESERVER ARCH
#   wine-prefix.sh stop  PREFIX WINE WINESERVER ARCH
#
# WINE is the loader of ARCH: wine64 for win64, 32-bit Wine's loader for
# win32 (a 32-bit-only prefix).
# "start" creates the prefix once, maps COM1, COM2 and COM3 to the fixed
# paths PREFIX/ports/com1, com2 and com3 (symbolic links that each test
# points at its simulated device, or at the ends of a pseudo-terminal pair
# for vardel-sim.exe on COM2 and the driver on COM1), and leaves the server and Wine's
# services running with their output on /dev/null: started by a test, they
# would inherit its pipes and hold them open. "stop" ends that server.
set -eu
action=$1
prefix=$2
wine=$3
server=$4
arch=$5

export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

quiet() { "$@" </dev/null >/dev/null 2>&1; }

# Wine reads the port map only when its services start.
portsMapped() {
  for n in 1 2 3; do
    grep -qF "\"COM$n\"=\"$prefix/ports/com$n\"" "$prefix/system.reg" 2>/dev/null || return 1
  done
}

mapPorts() {
  for n in 1 2 3; do
    quiet "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$prefix/ports/com$n" /f
  done
  quiet "$server" -k || true
  quiet "$server" -w || true
}

start() {
  quiet "$server" -k || true
  mkdir -p "$prefix/ports"
  for n in 1 2 3; do ln -sfn "$prefix/ports/no-device" "$prefix/ports/com$n"; done
  [ -f "$prefix/system.reg" ] || quiet "$wine" wineboot -i
  portsMapped || mapPorts
  portsMapped || { echo "COM1, COM2 and COM3 could not be mapped in $prefix" >&2; exit 1; }
  quiet "$server" -p60
  quiet "$wine" cmd /c exit
}

case "$action" in
  start) start ;;
  stop) quiet "$server" -k || true ;;
  *) echo "usage: $0 start|stop PREFIX WINE WINESERVER ARCH" >&2; exit 2 ;;
esac
