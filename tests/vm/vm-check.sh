#!/usr/bin/env bash
# The programs on the serial drivers of a real kernel: a QEMU guest (no KVM
# needed) with Debian's kernel, whose 16550A UARTs /dev/ttyS0 and /dev/ttyS2
# and whose USB serial adapter (FT232, /dev/ttyUSB0 through ftdi_sio) are
# wired to simulators on the host.
#
#   vm-check.sh run WORK VARDEL1 VARDEL3 VARDEL_SIM VARDEL_FIND
#       builds the guest, boots it, serves its requests, and leaves every
#       check's "PASS group: ..." / "FAIL group: ..." line in WORK/results.txt.
#       Fails when the guest didn't get to the end of its checks.
#   vm-check.sh result WORK GROUP
#       passes when WORK/results.txt has a PASS line and no FAIL line for GROUP.
#
# The kernel package is only downloaded and unpacked into WORK/cache; nothing
# is installed on the host but the tools below.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

VM_TIME_LIMIT=${VM_TIME_LIMIT:-150}  # seconds from boot to power-off, guest hung or not
# VM_GUEST_ENV: more NAME=VALUE words for the guest's checks (e.g. CPU_LIMIT=300),
# passed on the kernel command line.

result() {
    local results="$1/results.txt" group=$2
    [ -f "$results" ] || { echo "no results: the VM run failed"; exit 1; }
    grep -E "^(PASS|FAIL) $group: " "$results" || true
    grep -q "^FAIL $group: " "$results" && exit 1
    grep -q "^PASS $group: " "$results" || { echo "no result for $group"; exit 1; }
    exit 0
}

# The newest Debian kernel's package name, e.g. linux-image-6.1.0-57-amd64.
kernelPackage() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'
}

fetchKernel() {
    local cache=$1 package
    package=$(kernelPackage)
    if [ -z "$package" ]; then
        apt-get update -qq
        package=$(kernelPackage)
    fi
    [ -n "$package" ] || { echo "no linux-image-amd64 in the package lists" >&2; return 1; }
    if [ ! -f "$cache/$package/done" ]; then
        rm -rf "${cache:?}/$package"
        mkdir -p "$cache/$package"
        (cd "$cache/$package" && apt-get download -qq "$package" 2>&1 | grep -v unsandboxed >&2 || true)
        dpkg-deb -x "$cache/$package"/*.deb "$cache/$package/root"
        rm -f "$cache/$package"/*.deb
        touch "$cache/$package/done"
    fi
    echo "$cache/$package/root"
}

# Module names in load order, dependencies first, from each module's own
# "depends=" (the package ships no modules.dep).
moduleOrder() {
    local modules=$1 name file depends
    shift
    for name in "$@"; do
        case " $ORDERED " in *" $name "*) continue ;; esac
        file=$(find "$modules/kernel" -name "$name.ko" -o -name "$name.ko.xz" | head -1)
        [ -n "$file" ] || { echo "no module $name" >&2; return 1; }
        case "$file" in *.xz) xz -dc "$file" >"$STAGE/lib/modules/$name.ko" ;; *) cp "$file" "$STAGE/lib/modules/$name.ko" ;; esac
        depends=$(grep -a -o 'depends=[^[:cntrl:]]*' "$STAGE/lib/modules/$name.ko" | head -1 | cut -d= -f2 | tr ',' ' ')
        # shellcheck disable=SC2086
        [ -n "$depends" ] && moduleOrder "$modules" $depends
        ORDERED="$ORDERED $name"
    done
}

copyWithLibraries() { # PROGRAM DESTINATION
    cp "$1" "$STAGE/$2"
    ldd "$1" | grep -o '/[^ ]*' | while read -r library; do
        mkdir -p "$STAGE$(dirname "$library")"
        cp -L "$library" "$STAGE$library"
    done
}

buildInitramfs() { # WORK KERNEL-ROOT VARDEL1 VARDEL3 VARDEL_FIND
    local work=$1 kernel=$2
    STAGE=$work/stage
    rm -rf "$STAGE"
    mkdir -p "$STAGE"/{bin,vm,etc,lib/modules,proc,sys,dev,tmp}
    cp /bin/busybox "$STAGE/bin/busybox"
    ln -s busybox "$STAGE/bin/sh"
    copyWithLibraries "$3" vm/vardel1
    copyWithLibraries "$4" vm/vardel3
    copyWithLibraries "$5" vm/vardel-find
    gcc -static -O2 -Wall -Wextra -Wpedantic -Werror -o "$STAGE/vm/vmtool" "$here/vmtool.c"
    cp "$here/words.table" "$STAGE/vm/"
    cp "$here/guest-init.sh" "$STAGE/init"
    chmod 755 "$STAGE/init"
    echo "root:x:0:0::/root:/bin/sh" >"$STAGE/etc/passwd"
    printf 'root:x:0:\ndialout:x:20:bench\n' >"$STAGE/etc/group"
    ORDERED=""
    moduleOrder "$(echo "$kernel"/lib/modules/*)" usbcore xhci-hcd xhci-pci usbserial ftdi_sio
    for name in $ORDERED; do echo "$name.ko"; done >"$STAGE/vm/modules.order"
    (cd "$STAGE" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"
}

qmp() { # COMMAND-JSON
    printf '{"execute":"qmp_capabilities"}\n%s\n' "$1" | socat -t 1 - "UNIX-CONNECT:$WORK/qmp.sock" >>"$WORK/qmp.log" 2>&1
    echo >>"$WORK/qmp.log"
}

count() { grep -a -o -F "$1" "$2" 2>/dev/null | wc -l; }  # occurrences, the logs have no line ends

# Pulls out the adapter once the run in progress has sent its command and got
# the start of its reply ("12", no carriage return).
unplugInReply() {
    local wanted=$1 i=0
    while [ "$(count 'ZEA 9' "$WORK/usb.log")" -lt "$wanted" ] && [ $i -lt 200 ]; do
        sleep 0.02
        i=$((i + 1))
    done
    sleep 0.1
    qmp '{"execute":"device_del","arguments":{"id":"adapter"}}'
    echo "host: adapter pulled out $((i * 20 + 100)) ms after the request" >>"$WORK/host.log"
}

compareWire() { # LOG-NAME SIM-LOG
    local want got
    want=$(grep -a "^EXPECT $1 " "$WORK/console.log" | tr -d '\r' | cut -d' ' -f3)
    got=$(od -An -v -tx1 "$2" | tr -d ' \n')
    if [ -n "$want" ] && [ "$want" = "$got" ]; then
        echo "PASS wire: $1: the simulator received exactly the $(tr -cd '\r' <"$2" | wc -c) commands sent ($(wc -c <"$2") bytes)"
    else
        echo "FAIL wire: $1: the simulator received $(od -An -c "$2" | tr -s ' \n' ' ')"
        echo "FAIL wire: $1: the runs sent        $(echo "$want" | sed 's/../\\x&/g' | xargs -0 printf '%b' | od -An -c | tr -s ' \n' ' ')"
    fi
}

run() {
    mkdir -p "$1"
    WORK=$(cd "$1" && pwd)
    local vardel1=$2 vardel3=$3 sim=$4 find=$5 kernel pids=() started
    started=$(date +%s)
    "$root/scripts/install-deps.sh" qemu-system-x86 busybox-static cpio socat xz-utils
    mkdir -p "$WORK"
    rm -f "$WORK"/{results.txt,console.log,host.log,qmp.log,qmp.sock,s0.log,s2.log,usb.log,com1,com3,usb}
    kernel=$(fetchKernel "$WORK/cache")
    buildInitramfs "$WORK" "$kernel" "$vardel1" "$vardel3" "$find"

    "$sim" --link "$WORK/com1" --scenario "$here/device-a.scenario" --log "$WORK/s0.log" >"$WORK/sim-s0.out" &
    pids+=($!)
    "$sim" --link "$WORK/com3" --scenario "$here/device-b.scenario" --log "$WORK/s2.log" >"$WORK/sim-s2.out" &
    pids+=($!)
    "$sim" --link "$WORK/usb" --scenario "$here/device-a.scenario" --log "$WORK/usb.log" >"$WORK/sim-usb.out" &
    pids+=($!)
    trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
    for link in com1 com3 usb; do
        for _ in $(seq 100); do [ -e "$WORK/$link" ] && break; sleep 0.05; done
        [ -e "$WORK/$link" ] || { echo "simulator at $WORK/$link did not start"; exit 1; }
    done
    touch "$WORK/s0.log" "$WORK/s2.log" "$WORK/usb.log" "$WORK/console.log"

    # TCG only: the checks must not depend on the host's virtualisation.
    timeout -k 5 "$VM_TIME_LIMIT" qemu-system-x86_64 -machine pc,accel=tcg -m 256 -smp 1 \
        -nodefaults -no-user-config -display none -no-reboot \
        -kernel "$(echo "$kernel"/boot/vmlinuz-*)" -initrd "$WORK/initramfs.cpio" \
        -append "console=ttyS1 loglevel=3 panic=-1 8250.nr_uarts=4 ${VM_GUEST_ENV:-}" \
        -chardev serial,id=c0,path="$WORK/com1" -device isa-serial,chardev=c0,index=0 \
        -chardev file,id=console,path="$WORK/console.log" -device isa-serial,chardev=console,index=1 \
        -chardev serial,id=c2,path="$WORK/com3" -device isa-serial,chardev=c2,index=2 \
        -chardev serial,id=cu,path="$WORK/usb" -device qemu-xhci,id=hc \
        -device usb-serial,bus=hc.0,chardev=cu,id=adapter \
        -qmp "unix:$WORK/qmp.sock,server=on,wait=off" </dev/null >"$WORK/qemu.out" 2>&1 &
    local qemu=$! unplugged=no plugged=no
    pids+=($qemu)
    while kill -0 $qemu 2>/dev/null; do
        if [ $unplugged = no ] && grep -a -q "^VMREQ unplug" "$WORK/console.log"; then
            unplugged=yes
            unplugInReply "$(grep -a "^VMREQ unplug" "$WORK/console.log" | tr -d '\r' | cut -d' ' -f3)"
        fi
        if [ $plugged = no ] && grep -a -q "^VMREQ plug" "$WORK/console.log"; then
            plugged=yes
            qmp '{"execute":"device_add","arguments":{"driver":"usb-serial","id":"adapter","bus":"hc.0","chardev":"cu"}}'
        fi
        sleep 0.05
    done
    wait $qemu || echo "qemu ended with status $? (124: killed at the ${VM_TIME_LIMIT} s limit)"
    kill -TERM "${pids[@]:0:3}" 2>/dev/null || true
    wait "${pids[@]:0:3}" 2>/dev/null || true

    {
        grep -a -E "^(PASS|FAIL) " "$WORK/console.log" | tr -d '\r' || true
        if grep -a -q "^VMDONE" "$WORK/console.log"; then
            compareWire s0 "$WORK/s0.log"
            compareWire s2 "$WORK/s2.log"
            compareWire usb "$WORK/usb.log"
        fi
    } >"$WORK/results.txt"
    cat "$WORK/results.txt"
    echo "VM stage: $(($(date +%s) - started)) s"
    grep -a -q "^VMDONE" "$WORK/console.log" || { echo "the guest did not finish; console:"; tail -40 "$WORK/console.log"; exit 1; }
}

case "${1:-}" in
    run) shift; run "$@" ;;
    result) shift; result "$@" ;;
    *) echo "usage: $0 run WORK VARDEL1 VARDEL3 VARDEL_SIM VARDEL_FIND | result WORK GROUP" >&2; exit 2 ;;
esac
