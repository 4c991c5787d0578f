#!/usr/bin/env bash
# The card lab: the Linux program on card readers that a real kernel drives.
# Boots Debian's own kernel (unpacked from linux-image-amd64, not installed)
# in QEMU with software emulation, with an SD host controller, a USB reader
# and virtio system disks, the host's root as the guest's (9p, read-only), and
# runs tests/vm/checks.sh inside it. The checks ask the host, over the serial
# line, to pull, put back, eject or change a card through QMP.
# Ends with "N passed, N failed" (each check a test); status 0 when all passed.
set -uo pipefail

LAB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$LAB/../.." && pwd)
OUT=${VORN_LAB_DIR:-$ROOT/build/vm}
PROGRAM=$ROOT/build/release/vorninst
CHECKS=all
LIMIT=300
MODE=checks

usage() {
  cat <<EOF
Usage: tests/vm/lab.sh [--program PATH] [--checks A,B,...] [--limit SECONDS] [--bench]

Boots a QEMU guest (Debian's kernel, no KVM needed) with an SD reader
(/dev/mmcblk0) and a USB reader (/dev/sda), and runs the Linux program's
checks on them as root in the guest. Needs root on the host (apt-get
download, 9p export of /), qemu-system-x86, busybox-static, cpio, kmod,
python3 (the counterfeit card's NBD server).
The kernel is fetched once into build/vm.

  --program PATH   the vorninst to run (default: build/release/vorninst)
  --checks LIST    only these checks (names as tests/vm/checks.sh lists them)
  --limit SECONDS  stop the guest after this long (default 300)
  --bench          a timed two-partition New Install on the USB reader's
                   64 GB card by the program, and the same card by hand
EOF
}

while [ $# -gt 0 ]; do
  case "$1" in
    --program) PROGRAM=$(realpath "$2"); shift ;;
    --checks) CHECKS=$2; shift ;;
    --limit) LIMIT=$2; shift ;;
    --bench) MODE=bench ;;
    --dbg) MODE=dbg ;;
    -h | --help) usage; exit 0 ;;
    *) echo "lab.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

RUN=${VORN_LAB_RUN:-$OUT/run}
passed=0
failed=0
qemu_pid=""
dropping_pid=""

# The lab cannot run: said once, counted as one failure.
cannot() {
  echo "The card lab cannot run: $*" >&2
  echo "0 passed, 1 failed"
  exit 1
}

cleanup() {
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null
  [ -n "$dropping_pid" ] && kill "$dropping_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ---- the kernel and the initramfs ------------------------------------------------

MODULES=(sdhci-pci mmc_block xhci-pci usb-storage sd_mod 9p 9pnet_virtio vfat ext4 virtio_blk virtio_pci
         nls_cp437 nls_ascii)

# Sets KERNEL and INITRD, fetching and unpacking the kernel package the first
# time (kept while Debian's linux-image-amd64 points at the same one).
prepare_guest() {
  local package deb version tree
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -1)
  [ -n "$package" ] || cannot "apt-cache knows no linux-image-amd64 (run apt-get update)"
  version=${package#linux-image-}
  KERNEL=$OUT/vmlinuz-$version
  INITRD=$OUT/initrd-$version-$( (write_init; echo "${MODULES[*]}") | sha1sum | cut -c1-8).gz
  [ -f "$KERNEL" ] && [ -f "$INITRD" ] && return 0
  mkdir -p "$OUT"
  deb=$(ls "$OUT/${package}"_*.deb 2>/dev/null | head -1)
  if [ -z "$deb" ]; then
    (cd "$OUT" && apt-get download "$package" >"$OUT/apt-download.log" 2>&1) ||
      cannot "apt-get download $package failed (see $OUT/apt-download.log)"
    deb=$(ls "$OUT/${package}"_*.deb | head -1)
  fi
  tree=$OUT/kernel-tree
  rm -rf "$tree" && mkdir -p "$tree"
  dpkg-deb -x "$deb" "$tree" || cannot "dpkg-deb could not unpack $deb"
  depmod -b "$tree" "$version" || cannot "depmod failed on the kernel's modules"
  local initramfs=$OUT/initramfs
  rm -rf "$initramfs" && mkdir -p "$initramfs"/{bin,modules,proc,sys,dev,host}
  cp /bin/busybox "$initramfs/bin/" || cannot "no /bin/busybox (install busybox-static)"
  # Each module after those it needs, once.
  local module path
  for module in "${MODULES[@]}"; do
    modprobe -d "$tree" -S "$version" --show-depends "$module" || cannot "no module $module in $package"
  done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' | while read -r path; do
    cp "$path" "$initramfs/modules/"
    basename "$path" >>"$initramfs/modules/order"
  done
  write_init >"$initramfs/init"
  chmod +x "$initramfs/init"
  rm -f "$OUT"/initrd-*.gz
  (cd "$initramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$INITRD" || cannot "cpio failed"
  cp "$tree/boot/vmlinuz-$version" "$KERNEL"
  rm -rf "$tree" "$initramfs"
}

# The guest's first program: the drivers, the host's root as its own (with
# the kernel's file systems and a writable /tmp over it), then the checks.
write_init() {
  cat <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /modules/order); do insmod /modules/$module 2>/dev/null; done
for word in $(cat /proc/cmdline); do
  case "$word" in vorn.*=*) key=${word%%=*}; export "VORN_${key#vorn.}=${word#*=}" ;; esac
done
if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose host /host; then
  echo "@@FAIL lab: the host's root could not be mounted"; echo "@@END"; poweroff -f
fi
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts && mount -t devpts devpts /host/dev/pts
# The host's root seen once more, so that a checkout or program under
# /tmp, /run or /root (a clone in /tmp) stays in reach under the tmpfs.
mkdir -p /shadow && mount -o bind /host /shadow
for folder in /tmp /run /root; do mount -t tmpfs tmpfs /host$folder; done
for folder in "${VORN_checks%/tests/vm/*}" "${VORN_program%/*}"; do
  case "$folder" in /tmp/* | /run/* | /root/*) mkdir -p "/host$folder" && mount -o bind "/shadow$folder" "/host$folder" ;; esac
done
# A copy: the script may change on the host while the guest runs it.
cp "/shadow$VORN_checks" /host/tmp/checks.sh
chroot /host /bin/bash /tmp/checks.sh </dev/console >/dev/console 2>&1
echo "@@END"
poweroff -f
EOF
}

# ---- the guest ----------------------------------------------------------------------

CARD_SD=$RUN/sd.img
CARD_USB=$RUN/usb.img

# Sparse images: the cards (blank), and two system disks whose partitions
# hold a swap area and a mounted file system.
make_images() {
  rm -rf "$RUN" && mkdir -p "$RUN"
  truncate -s 2G "$CARD_SD"  # under 4000 MB: a one-partition card
  truncate -s 64G "$CARD_USB"
  local disk
  for disk in sys1 sys2; do
    truncate -s 64M "$RUN/$disk.img"
    echo 'start=2048,type=83' | sfdisk -q "$RUN/$disk.img" >/dev/null
  done
}

# QMP through a pair of pipes (QEMU's pipe chardev): one command, its answer.
qmp() {
  local line
  printf '%s\n' "$1" >&"$qmp_in"
  while IFS= read -r -t 30 line <&"$qmp_out"; do
    echo "qmp> $1 < $line" >>"$RUN/qmp.log"
    case "$line" in
      *'"return"'*) return 0 ;;
      *'"error"'*) echo "$line"; return 1 ;;
    esac
  done
  echo "no answer from QMP"
  return 1
}

# The media the host keeps as block nodes: a card's image, a copy of it, or
# the counterfeit card (8 GiB that keeps its first 64 MiB).
add_medium() {  # IMAGE|dropping: sets NODE
  NODE=medium$(date +%s%N)
  local file="{\"driver\":\"file\",\"filename\":\"$1\"}"
  if [ "$1" = dropping ]; then
    file="{\"driver\":\"nbd\",\"server\":{\"type\":\"unix\",\"path\":\"$RUN/dropping.sock\"}}"
  fi
  qmp "{\"execute\":\"blockdev-add\",\"arguments\":{\"driver\":\"raw\",\"node-name\":\"$NODE\",\
\"discard\":\"unmap\",\"detect-zeroes\":\"unmap\",\"file\":$file}}"
}

# The readers' card devices: the USB reader's disk is made by usb-storage,
# with no id of its own.
declare -A QDEV=([sd]=sdcard [usb]=/machine/peripheral/usbdisk/usbdisk.0/legacy[0])

# What the guest asks of the host; prints why it could not. A reader is named
# by its drive ("sd" or "usb"); the SD card has no tray, the USB reader's is
# opened first.
host_action() {
  local action=$1 reader=${2:-}
  case "$action" in
    pull)  # the card leaves the reader
      if [ "$reader" = usb ]; then
        qmp "{\"execute\":\"blockdev-open-tray\",\"arguments\":{\"device\":\"usb\",\"force\":true}}" || return 1
      fi
      qmp "{\"execute\":\"blockdev-remove-medium\",\"arguments\":{\"id\":\"${QDEV[$reader]}\"}}" ;;
    insert)  # a card goes in: its own image, or the one named (or "dropping")
      add_medium "${3:-$RUN/$reader.img}" || return 1
      qmp "{\"execute\":\"blockdev-insert-medium\",\"arguments\":{\"id\":\"${QDEV[$reader]}\",\"node-name\":\"$NODE\"}}" || return 1
      if [ "$reader" = usb ]; then
        qmp "{\"execute\":\"blockdev-close-tray\",\"arguments\":{\"device\":\"usb\"}}"
      fi ;;
    copy)  # a byte-for-byte copy of a card's image, beside it: prints its path
      cp --sparse=always "$RUN/$reader.img" "$RUN/$reader-copy.img" && echo "$RUN/$reader-copy.img" ;;
    tray)  # is the reader's tray open (its medium ejected)?
      qmp '{"execute":"query-block"}' >/dev/null
      # A device's record runs to the next one's name: the medium ejected
      # stays inserted, its object nested before tray_open.
      grep -F '"return": [' "$RUN/qmp.log" | tail -n 1 |
        awk -v RS='"device": ' '/^"usb"/ && /"tray_open": true/ { found = 1 } END { exit !found }' ;;
    fsck.fat)  # IMAGE START SECTORS: a partition of an image the guest wrote
      local view
      view=$(losetup -f --show -r -o $(($3 * 512)) --sizelimit $(($4 * 512)) "$2") || return 1
      fsck.fat -n "$view" 2>&1
      local status=$?
      losetup -d "$view"
      return $status ;;
    stamp)  # when an image was last written
      stat -c %y "$2" ;;
    sfdisk | mdir)  # a tool on the host, on an image the guest wrote
      shift
      MTOOLS_SKIP_CHECK=1 "$action" "$@" 2>&1 ;;
    *) echo "unknown action $action"; return 1 ;;
  esac
}

boot() {
  local serial=$RUN/serial qmpipe=$RUN/qmp
  mkfifo "$serial.in" "$serial.out" "$qmpipe.in" "$qmpipe.out"
  exec {to_guest}<>"$serial.in" {from_guest}<>"$serial.out" {qmp_in}<>"$qmpipe.in" {qmp_out}<>"$qmpipe.out"
  # noirqdebug: a card pulled in the middle of a transfer makes the emulated SD
  # host raise interrupts that the kernel would otherwise switch off for good.
  local append="console=ttyS0 quiet loglevel=1 panic=-1 noirqdebug vorn.checks=$LAB/checks.sh vorn.program=$PROGRAM"
  append+=" vorn.run=$RUN vorn.only=$CHECKS vorn.mode=$MODE"
  python3 "$LAB/dropping_card.py" "$RUN/dropping.sock" 8192 64 >"$RUN/dropping.log" 2>&1 &
  dropping_pid=$!
  # The baseline x86-64 CPU that Debian's programs are built for: emulated,
  # its instructions take less of the host's time than the newest CPU's.
  qemu-system-x86_64 -machine q35 -accel tcg -cpu qemu64 -m 768 -smp 1 -nodefaults -display none -no-reboot \
    -kernel "$KERNEL" -initrd "$INITRD" -append "$append" \
    -chardev "pipe,id=serial,path=$serial" -serial chardev:serial \
    -chardev "pipe,id=qmp,path=$qmpipe" -mon chardev=qmp,mode=control \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
    -drive "if=none,id=sd,format=raw,file=$CARD_SD,discard=unmap,detect-zeroes=unmap" \
    -device sdhci-pci -device sd-card,drive=sd,id=sdcard \
    -drive "if=none,id=usb,format=raw,file=$CARD_USB,discard=unmap,detect-zeroes=unmap" \
    -device qemu-xhci -device usb-storage,drive=usb,removable=on,id=usbdisk \
    -drive "if=virtio,format=raw,file=$RUN/sys1.img" -drive "if=virtio,format=raw,file=$RUN/sys2.img" \
    2>"$RUN/qemu.log" &
  qemu_pid=$!
  local line greeting
  IFS= read -r -t 30 greeting <&"$qmp_out" || { sleep 1; cannot "QEMU did not start: $(cat "$RUN/qemu.log")"; }
  qmp '{"execute":"qmp_capabilities"}' >/dev/null
  local deadline=$((SECONDS + LIMIT)) ended=false
  : >"$RUN/console.log"
  while [ $SECONDS -lt $deadline ]; do
    if ! IFS= read -r -t 5 line <&"$from_guest"; then
      kill -0 "$qemu_pid" 2>/dev/null || break
      continue
    fi
    line=${line%$'\r'}
    echo "$line" >>"$RUN/console.log"
    case "$line" in
      @@PASS*) passed=$((passed + 1)); echo "PASS ${line#@@PASS }" ;;
      @@FAIL*) failed=$((failed + 1)); echo "FAIL ${line#@@FAIL }" ;;
      @@LOG*) echo "     ${line#@@LOG }" ;;
      @@SAY*) echo "${line#@@SAY }" ;;
      @@HOST*)
        local said status
        # shellcheck disable=SC2086  # the guest's words, one by one
        said=$(host_action ${line#@@HOST })
        status=$?
        echo "${said//$'\n'/ | }" >>"$RUN/console.log"
        printf '%s %s\n' "$status" "${said//$'\n'/ | }" >&"$to_guest" ;;
      @@END*) ended=true; break ;;
    esac
  done
  if ! $ended; then
    failed=$((failed + 1))
    echo "FAIL lab: the guest did not finish within $LIMIT s (console: $RUN/console.log)"
  fi
  wait_qemu
}

wait_qemu() {
  local n
  for n in $(seq 50); do
    kill -0 "$qemu_pid" 2>/dev/null || break
    sleep 0.2
  done
  kill "$qemu_pid" 2>/dev/null
  wait "$qemu_pid" 2>/dev/null
  qemu_pid=""
}

[ "$(id -u)" -eq 0 ] || cannot "it needs root (the guest reads the host's root as its own)"
command -v qemu-system-x86_64 >/dev/null || cannot "no qemu-system-x86_64 (install qemu-system-x86)"
for tool in cpio depmod modprobe dpkg-deb apt-get sfdisk python3; do
  command -v "$tool" >/dev/null || cannot "no $tool"
done
[ -x "$PROGRAM" ] || cannot "no program at $PROGRAM (build it first)"
started=$SECONDS
prepare_guest
make_images
booted=$SECONDS
boot
echo "The card lab took $((booted - started)) s to prepare and $((SECONDS - started)) s in all."
echo "$passed passed, $failed failed"
# The bench alone (--checks none) runs no check: it measured when nothing failed.
[ "$failed" -eq 0 ] && { [ "$passed" -gt 0 ] || [ "$CHECKS" = none ]; }
