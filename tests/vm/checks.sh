#!/bin/bash
# The card lab's checks, run as root inside the guest (tests/vm/lab.sh boots
# it): the SD reader is /dev/mmcblk0, the USB reader /dev/sda, and /dev/vda
# and /dev/vdb are system disks. Each check prints "@@PASS name" or
# "@@FAIL name: why"; "@@HOST action" asks the host to act on the readers.
set -u
VORN=$VORN_program
export HOME=/tmp/home MTOOLS_SKIP_CHECK=1 PATH=/usr/sbin:/usr/bin:/sbin:/bin
mkdir -p "$HOME"
stty -F /dev/ttyS0 -echo 2>/dev/null
SD=/dev/mmcblk0
USB=/dev/sda
LOGS=/tmp/logs
mkdir -p "$LOGS"

say() { echo "@@SAY $*"; }

# Asks the host to act; its answer is "status words".
host() {
  local reply
  echo "@@HOST $*"
  IFS= read -r reply </dev/ttyS0
  HOST_SAID=${reply#* }
  [ "${reply%% *}" = 0 ]
}

# A check: the function check_NAME, run when asked for; it fails by
# returning non-zero after saying why: `step || why "..." || return`.
WHY=""
why() {
  WHY=$*
  return 1
}
run_check() {
  local name=$1
  case ",$VORN_only," in *",all,"* | *",$name,"*) ;; *) return 0 ;; esac
  WHY=""
  local started=$SECONDS
  if "check_$name"; then
    echo "@@PASS $name ($((SECONDS - started)) s)"
  else
    echo "@@FAIL $name: ${WHY:-failed} ($((SECONDS - started)) s)"
    [ -s "$LOGS/$name" ] && tail -n 15 "$LOGS/$name" | sed 's/^/@@LOG /'
  fi
}

# Until the device node is there (or not), at most SECONDS.
await_node() {  # PATH present|gone SECONDS
  local n
  for ((n = 0; n < $3 * 5; n++)); do
    if [ "$2" = present ]; then [ -b "$1" ] && return 0; else [ -b "$1" ] || return 0; fi
    sleep 0.2
  done
  return 1
}

# Until TEXT shows in FILE, at most SECONDS.
await_text() {  # FILE TEXT SECONDS
  local n
  for ((n = 0; n < $3 * 5; n++)); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# The add-on's file set, as it lies beside the program.
ADDON=/tmp/addon
mkdir -p $ADDON/LYRE $ADDON/DCIM/100TEST
echo "boot file" >$ADDON/DISKBOOT.BIN
echo "firmware" >$ADDON/PS.FIR
echo "add-on" >$ADDON/LYRE/LYRE.BIN
echo "dcim" >$ADDON/DCIM/100TEST/README.TXT
echo "config left" >$ADDON/LYRE.CFG.L
echo "config right" >$ADDON/LYRE.CFG.R

# The program, its output in the check's log; the status is its exit status.
vorn() {
  timeout "${VORN_WAIT:-60}" "$VORN" --addon $ADDON "$@" </dev/null >>"$LOGS/$CHECK" 2>&1
}
# The program in the background, in a terminal of its own (script(1)) whose
# keys come from answer(); finish() waits for its exit status.
vorn_pty() {
  rm -f "$LOGS/pty" && mkfifo "$LOGS/pty"
  local command
  command=$(printf '%q ' timeout 120 "$VORN" --addon $ADDON "$@")
  script -qfec "$command" /dev/null <"$LOGS/pty" >>"$LOGS/$CHECK" 2>&1 &
  PTY_PID=$!
  exec {PTY}>"$LOGS/pty"
}
answer() { printf '%s\n' "$1" >&"$PTY"; }
finish() {
  exec {PTY}>&-
  wait "$PTY_PID"
}
# Until TEXT shows in the check's log for the COUNTth time (1 unless given).
shows() {  # TEXT [SECONDS] [COUNT]
  local n
  for ((n = 0; n < ${2:-60} * 5; n++)); do
    [ "$(grep -cF -- "$1" "$LOGS/$CHECK")" -ge "${3:-1}" ] && return 0
    sleep 0.2
  done
  return 1
}
said() { grep -qF -- "$1" "$LOGS/$CHECK"; }

# A hash of the first 32 MiB of a disk as the card holds them (past the
# page cache): tables, boot sectors and FATs live there.
fingerprint() { dd if="$1" bs=1M count=32 iflag=direct status=none | sha1sum | cut -c1-40; }

# The card out of the reader and back, as the user does at "Remove".
out_and_back() {  # READER
  host pull "$1" || why "the host could not pull the $1 card: $HOST_SAID" || return
  sleep 1
  host insert "$1" || why "the host could not put the $1 card back: $HOST_SAID"
}

# Reader by reader: its device, the host's name for it, its card's size.
reader_name() { [ "$1" = $SD ] && echo sd || echo usb; }

# ---- the checks ------------------------------------------------------------------

check_readers() {
  await_node $SD present 30 || why "no $SD" || return
  await_node $USB present 30 || why "no $USB"
}

# Both readers are cards (the SD reader's says removable=0), with size,
# vendor and model; the system disks are not.
check_list() {
  vorn list || why "list ended with $?" || return
  grep -q "^[D-Z]: *$SD  8192 MB  QEMU" "$LOGS/$CHECK" || why "no SD card with its size in the list" || return
  grep -q "^[D-Z]: *$USB  65536 MB  QEMU QEMU HARDDISK" "$LOGS/$CHECK" || why "no USB card with size and vendor in the list" || return
  ! grep -q "/dev/vd" "$LOGS/$CHECK" || why "a system disk is listed"
}

# A system disk whose partition holds swap, or a mounted file system, is
# traced to its disk and refused; a partition named is refused with its disk.
check_system_disks() {
  local disk says
  for disk in "/dev/vda:swap" "/dev/vdb:/boot" "/dev/vdb1:partition of /dev/vdb"; do
    says=${disk#*:}
    disk=${disk%%:*}
    vorn --card "$disk" inspect
    [ $? = 2 ] || why "$disk was not refused as bad usage" || return
    grep -qF -- "$says" "$LOGS/$CHECK" || why "$disk: refused without naming \"$says\"" || return
  done
}

# New Install: the card leaves and comes back at the prompts, and the
# finished card holds its table (with the partition nodes at once) and
# clean FAT file systems, read in the guest and on the host's image.
new_install() {  # DEVICE LAYOUT [FORMAT OPTION]
  local device=$1 layout=$2 reader
  reader=$(reader_name "$device")
  VORN_WAIT=75 vorn --card "$device" new-install --camera left --layout "$layout" --quick --yes &
  local program=$!
  shows "Remove SD Card!" 60 || why "no remove prompt" || return
  if [ "$reader" = usb ]; then
    host tray usb
    TRAY_OPEN=$?
  fi
  out_and_back "$reader" || return
  wait $program
  local status=$?
  local p=""
  [ "$reader" = sd ] && p=p
  local partitions=1
  [ "$layout" = two ] && partitions=2
  local nodes=""
  for ((n = 1; n <= partitions; n++)); do [ -b "$device$p$n" ] && nodes+=" $device$p$n"; done
  [ $status = 0 ] && said "Install finished!" || why "ended with $status, not finished" || return
  [ "$(echo $nodes | wc -w)" = $partitions ] || why "partition nodes missing at once: only$nodes" || return
  local table
  table=$(sfdisk -d "$device" | grep -c "^$device")
  [ "$table" = $partitions ] || why "sfdisk sees $table partitions" || return
  for node in $nodes; do fsck.fat -n "$node" >>"$LOGS/$CHECK" 2>&1 || why "fsck.fat finds $node unclean" || return; done
  local last=${nodes##* }
  mdir -i "$last" ::/LYRE/LYRE.CFG >>"$LOGS/$CHECK" 2>&1 || why "mdir finds no LYRE.CFG on $last" || return
  # The host's image: the same table, and its file systems.
  host sfdisk -d "$VORN_run/$reader.img" || why "sfdisk on the host: $HOST_SAID" || return
  [ "$(echo "$HOST_SAID" | grep -o 'start=' | wc -l)" = $partitions ] || why "the host's image holds another table: $HOST_SAID" || return
  local node start size
  for node in $nodes; do
    start=$(cat "/sys/class/block/${node#/dev/}/start")
    size=$(cat "/sys/class/block/${node#/dev/}/size")
    host fsck.fat "$VORN_run/$reader.img" "$start" "$size" || why "fsck.fat on the host's image: $HOST_SAID" || return
  done
  host mdir -i "$VORN_run/$reader.img@@$((start * 512))" ::/LYRE/LYRE.CFG || why "mdir on the host's image: $HOST_SAID"
}

check_new_install_usb_two() { new_install $USB two; }
check_new_install_sd_one() { new_install $SD one; }

# The guest's system disks: swap on a partition of one, a file system the
# system needs mounted from a partition of the other.
mkswap -q /dev/vda1 >/dev/null && swapon /dev/vda1
mkfs.ext4 -q /dev/vdb1 && mount /dev/vdb1 /boot

for CHECK in readers list system_disks new_install_usb_two new_install_sd_one; do
  run_check $CHECK
done
. "${VORN_checks%/*}/reader_checks.sh"
