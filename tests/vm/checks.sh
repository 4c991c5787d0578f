#!/bin/bash
# The card lab's checks, run as root inside the guest (tests/vm/lab.sh boots
# it): the SD reader is /dev/mmcblk0, the USB reader /dev/sda, and /dev/vda
# and /dev/vdb are system disks. Each check prints "@@PASS name" or
# "@@FAIL name: why"; "@@HOST action" asks the host to act on the readers.
set -u
case ",$VORN_only," in *,trace,*) set -x ;; esac
VORN=$VORN_program
export HOME=/tmp/home MTOOLS_SKIP_CHECK=1 PATH=/usr/sbin:/usr/bin:/sbin:/bin
# A sanitized build given by hand: no leak check, which cannot run under
# strace.
export ASAN_OPTIONS=detect_leaks=0
mkdir -p "$HOME"
stty -F /dev/ttyS0 -echo 2>/dev/null
trap '' PIPE  # a program gone before its answer fails the check, not the run
SD=/dev/mmcblk0
USB=/dev/sda
LOGS=/tmp/logs
CHECK_LIMIT=150
MARK=0
MNT=/tmp/card
mkdir -p $MNT
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
  local started=$SECONDS
  rm -f "$LOGS/why"
  # A check that hangs is stopped after CHECK_LIMIT seconds, with what it runs.
  (
    WHY=""
    "check_$name"
    status=$?
    echo "$WHY" >"$LOGS/why"
    exit $status
  ) &
  local check=$!
  (sleep "$CHECK_LIMIT"; pkill -TERM -P $check; kill -TERM $check) 2>/dev/null &
  local watchdog=$!
  wait $check
  local status=$?
  kill $watchdog 2>/dev/null
  if [ $status = 0 ]; then
    echo "@@PASS $name ($((SECONDS - started)) s)"
  else
    local why
    why=$(cat "$LOGS/why" 2>/dev/null)
    echo "@@FAIL $name: ${why:-stopped after $CHECK_LIMIT s} ($((SECONDS - started)) s)"
    [ -s "$LOGS/$name" ] && grep -v "^Waiting for" "$LOGS/$name" | tail -n 15 | sed 's/^/@@LOG /'
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

# Where the check's log stood when the last program started: what it shows
# is looked for after that.
mark() { MARK=$(stat -c %s "$LOGS/$CHECK" 2>/dev/null || echo 0); }
since_mark() { tail -c +$((MARK + 1)) "$LOGS/$CHECK" 2>/dev/null; }

# The program, its output in the check's log; the status is its exit status.
vorn() {
  mark
  timeout "${VORN_WAIT:-60}" "$VORN" --addon $ADDON "$@" </dev/null >>"$LOGS/$CHECK" 2>&1
}
# The program in the background, in a terminal of its own (script(1)) whose
# keys come from answer(); finish() waits for its exit status.
vorn_pty() {
  mark
  rm -f "$LOGS/pty" && mkfifo "$LOGS/pty"
  local command
  command=$(printf '%q ' timeout --foreground 60 "$VORN" --addon $ADDON "$@")
  script -qfec "$command" /dev/null <"$LOGS/pty" >>"$LOGS/$CHECK" 2>&1 &
  PTY_PID=$!
  PTY_OKS=0
  exec {PTY}>"$LOGS/pty"
}
answer() { printf '%s\n' "$1" >&"$PTY"; }
# Until the program ends; each box it shows with only an OK is answered.
finish() {
  local answered=$PTY_OKS
  while kill -0 "$PTY_PID" 2>/dev/null; do
    if [ "$(since_mark | grep -c '\[O\]K')" -gt "$answered" ]; then
      answer ""
      answered=$((answered + 1))
    fi
    sleep 0.3
  done
  wait "$PTY_PID"
  local status=$?
  exec {PTY}>&-
  return $status
}
# Until TEXT shows in the check's log for the COUNTth time (1 unless given).
shows() {  # TEXT [SECONDS] [COUNT]
  local n
  for ((n = 0; n < ${2:-60} * 5; n++)); do
    [ "$(since_mark | grep -cF -- "$1")" -ge "${3:-1}" ] && return 0
    sleep 0.2
  done
  return 1
}
said() { since_mark | grep -qF -- "$1"; }

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

# A byte-for-byte copy of the card just pulled, put into its reader: its
# image in COPY, its time stamp in STAMP. (An SD host must have seen its
# card leave first: the emulated one, given a new card in the same instant,
# stalls a minute, as no hand is that fast.)
put_in_copy() {  # DEVICE
  local reader
  reader=$(reader_name "$1")
  host copy $reader && COPY=$HOST_SAID && host insert $reader "$COPY" || why "no copy: $HOST_SAID" || return
  await_node "$1" present 60 || why "$1: the copy did not show" || return
  host stamp "$COPY"
  STAMP=$HOST_SAID
}

# ---- the checks ------------------------------------------------------------------

check_readers() {
  await_node $SD present 30 || why "no $SD" || return
  await_node $USB present 30 || why "no $USB"
}

# Both readers are cards (the SD reader's says removable=0), with size,
# vendor and model; the system disks are not.
check_list() {
  vorn list || why "list ended with $?" || return
  grep -q "^[D-Z]: *$SD  2048 MB  QEMU" "$LOGS/$CHECK" || why "no SD card with its size in the list" || return
  grep -q "^[D-Z]: *$USB  65536 MB  QEMU QEMU HARDDISK" "$LOGS/$CHECK" || why "no USB card with size and vendor in the list" || return
  ! grep -q "/dev/vd" "$LOGS/$CHECK" || why "a system disk is listed" || return
  # A removable disk the system needs (swap on its partition) is no card.
  fat_card $USB || return
  mkswap -q "${USB}1" >/dev/null && swapon "${USB}1" || why "no swap on ${USB}1" || return
  mark
  vorn list
  swapoff "${USB}1"
  ! since_mark | grep -q "$USB" || why "a removable disk holding swap is listed"
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
  mark
  # The USB card by its letter, the program seeing every reader: only the
  # chosen one is waited for.
  local card=(--card "$device")
  [ "$reader" = usb ] && card=(--drive "$("$VORN" list 2>/dev/null | awk -v d="$device" 'index($2, d) == 1 { print $1; exit }')")
  VORN_WAIT=75 vorn "${card[@]}" new-install --camera left --layout "$layout" --quick --yes &
  local program=$!
  shows "Remove SD Card!" 60 || why "no remove prompt" || return
  if [ "$reader" = usb ]; then
    host tray usb
    TRAY_OPEN=$?
  fi
  out_and_back "$reader" || return
  wait $program
  local status=$?
  # A finished card is ejected: the user puts it back before looking at it.
  if [ "$reader" = usb ] && host tray usb; then
    out_and_back usb || return
    # Nothing in the guest opens a disk by itself (no udev): the kernel sees
    # the medium back, and reads its table, when the disk is opened.
    for ((n = 0; n < 100; n++)); do
      : <"$device" 2>/dev/null
      [ -b "${device}1" ] && break
      sleep 0.2
    done
  fi
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

# A card made by hand: a first partition of 512 KiB from 1 MiB, FAT12,
# holding OLD.TXT (small: its true place and its start misread as bytes do
# not overlap), and a second one, not formatted, over the rest. Sets PART
# to the first one's node.
fat_card() {  # DEVICE
  local p=""
  [ "$1" = $SD ] && p=p
  PART=$1${p}1
  printf 'start=2048,size=1024,type=1\nstart=4096,type=c\n' | sfdisk -q "$1" >/dev/null 2>&1 ||
    why "sfdisk could not make $1's table" || return
  await_node "$PART" present 10 || why "no $PART after the table was written" || return
  mkfs.fat -F 12 "$PART" >/dev/null || why "mkfs.fat failed on $PART" || return
  echo old >/tmp/old.txt && mcopy -i "$PART" /tmp/old.txt ::/OLD.TXT || why "mcopy failed on $PART"
}

# The card's FAT partition mounted: with a file open on it the format is
# refused as "in use" and nothing is written; with none it is unmounted
# and the card formatted.
check_mounted_vfat() {
  local device busy before
  for device in $SD $USB; do
    busy=false
    [ $device = $SD ] && busy=true
    {
      fat_card $device || return
      mount -t vfat "$PART" $MNT >>"$LOGS/$CHECK" 2>&1 || why "$PART could not be mounted: $(dmesg | tail -n 2)" || return
      $busy && exec {open}>$MNT/open.txt
      sync
      before=$(fingerprint $device)
      vorn --card $device format --quick --fat
      local status=$? after
      after=$(fingerprint $device)
      $busy && exec {open}>&-
      if $busy; then
        umount $MNT
        [ $status = 1 ] && said "The SD Card is in use" || why "$device busy: ended $status without \"in use\"" || return
        [ "$after" = "$before" ] || why "$device busy: the card was written" || return
      else
        ! grep -q " $MNT " /proc/mounts || why "$device idle: left mounted" || umount $MNT || return
        [ $status = 0 ] || why "$device idle: the format ended with $status" || return
        ! mdir -i "$PART" ::/OLD.TXT >/dev/null 2>&1 || why "$device idle: not formatted" || return
      fi
    }
  done
}

# A mount made while a question waits: the format, asked to go on, finds it.
check_mount_at_question() {
  local device before
  for device in $USB; do
    fat_card $device || return
    vorn_pty --card $device format --fat
    shows "Quick Format ?" 60 || why "$device: no quick format question" || return
    mount -t vfat "$PART" $MNT >>"$LOGS/$CHECK" 2>&1 || why "$PART could not be mounted: $(dmesg | tail -n 2)" || return
    exec {open}>$MNT/open.txt
    sync
    before=$(fingerprint $device)
    answer y
    finish
    local status=$? after
    after=$(fingerprint $device)
    exec {open}>&-
    umount $MNT
    [ $status = 1 ] && said "The SD Card is in use" || why "$device: ended $status without \"in use\"" || return
    [ "$after" = "$before" ] || why "$device: the card was written under the mount" || return
  done
}

# A partition mounted where the program cannot see it (another mount
# namespace): the exclusive open keeps the table write off the disk.
check_exclusive_open() {
  local device before
  for device in $SD; do
    fat_card $device || return
    rm -f /tmp/hidden
    unshare -m --propagation private sh -c "mount -t vfat -o ro $PART $MNT && echo mounted >/tmp/hidden && exec sleep 60" &
    local holder=$!
    await_text /tmp/hidden mounted 10 || why "the hidden mount failed" || return
    before=$(fingerprint $device)
    vorn --card $device create-partition --layout one
    local status=$?
    kill $holder; wait $holder
    [ $status = 1 ] || why "$device: the table write ended with $status" || return
    [ "$(fingerprint $device)" = "$before" ] || why "$device: the table was written under a mount" || return
  done
}

# Not root: the message, and no card opened for writing.
check_not_root() {
  local device
  for device in $SD $USB; do
    mark
    strace -f -e trace=open,openat -o /tmp/trace setpriv --reuid=65534 --regid=65534 --clear-groups \
      "$VORN" --card $device list </dev/null >>"$LOGS/$CHECK" 2>&1
    [ $? = 1 ] || why "$device: not refused" || return
    said "$device: block devices need root; run it with sudo." || why "$device: no sudo hint" || return
    ! grep -E "\"/dev/(sd|mmc)[^\"]*\", O_(WRONLY|RDWR)" /tmp/trace || why "$device: opened for writing" || return
  done
  mark
  setpriv --reuid=65534 --regid=65534 --clear-groups "$VORN" list </dev/null >>"$LOGS/$CHECK" 2>&1
  said "Removable disks need root to be seen: run it with sudo" || why "list: no sudo hint"
}

# The table write's eject opens the USB reader's tray at the remove prompt.
check_eject() {
  fat_card $USB || return
  mark
  vorn --card $USB create-partition --layout one &
  local program=$!
  shows "Remove and re-insert SD Card!" 60 || why "no remove prompt" || return
  host tray usb
  local ejected=$?
  out_and_back usb
  wait $program
  [ $ejected = 0 ] || why "the USB reader's medium was not ejected"
}

# The card pulled while the format zeroes it: the command ends, unfinished.
# On the SD reader only: QEMU 7.2's USB reader, its medium taken out in the
# middle of a transfer, fails an assertion (usb_packet_copy) and dies.
check_pull_during_format() {
  fat_card $SD || return
  mark
  vorn --card $SD --drive E: format --full --fat32 &
  local program=$!
  shows "Formatting SD Card : " 60 || why "no format progress" || return
  sleep 2
  host pull sd || why "pull: $HOST_SAID" || return
  wait $program
  local status=$?
  host insert sd
  await_node $SD present 60
  [ $status = 1 ] || why "the format pulled out ended with $status"
}

# At a question, the card pulled out, or changed for a byte-for-byte copy
# made while it was out: "SD Card changed", and the copy is never written.
check_card_changed_at_question() {
  local device reader change
  for device in $SD $USB; do
    reader=$(reader_name $device)
    for change in pulled copy; do
      [ $device = $USB ] && [ $change = pulled ] && continue
      fat_card $device || return
      sync
      vorn_pty --card $device format --fat
      shows "Quick Format ?" 60 || why "$device: no quick format question" || return
      host pull $reader || why "pull: $HOST_SAID" || return
      if [ $change = copy ]; then
        [ $device = $USB ] || await_node $device gone 30 || why "$device: the card did not leave" || return
        put_in_copy $device || return
      fi
      answer y
      finish
      local status=$?
      if [ $change = copy ]; then
        host stamp "$COPY"
        [ "$HOST_SAID" = "$STAMP" ] || why "$device: the copy was written" || return
        host pull $reader
      fi
      host insert $reader
      await_node $device present 60
      [ $status = 1 ] && said "SD Card changed or missing!" || why "$device $change: ended $status without \"SD Card changed\"" || return
    done
  done
}

# A counterfeit card in the USB reader: 8 GiB that keep only their first
# 64 MiB, writes past them lost without an error. The size test reads past
# every cache and bounds its real size (by the first sample lost); nothing
# is written.
check_dropping_card() {
  host pull usb && host insert usb dropping || why "the counterfeit card did not go in: $HOST_SAID" || return
  for ((n = 0; n < 100; n++)); do [ "$(blockdev --getsz $USB 2>/dev/null)" = 16777216 ] && break; sleep 0.2; done
  local before
  before=$(fingerprint $USB)
  VORN_WAIT=90 vorn --card $USB new-install --camera left --layout two --quick --yes
  local status=$?
  local after
  after=$(fingerprint $USB)
  host pull usb && host insert usb
  local bound
  bound=$(since_mark | sed -n 's/.*counterfeit or faulty: it holds no more than \([0-9]*\) MB.*/\1/p')
  [ $status = 1 ] && [ "${bound:-0}" -ge 64 ] && [ "$bound" -lt 8192 ] || why "ended $status, bound '$bound' MB" || return
  [ "$after" = "$before" ] || why "the counterfeit card was written"
}

# The window's drive list follows the SD card pulled out and put back.
check_window_follows() {
  local line=": *$SD"
  vorn_pty
  shows "look again: " 60 || why "no window" || return
  local shown
  shown=$(since_mark | grep -c "$line")
  [ "$shown" -gt 0 ] || why "the SD card is not in the window" || return
  host pull sd
  await_node $SD gone 30
  answer ""
  shows "look again: " 30 2 || why "no second prompt" || return
  local out=$(since_mark | grep -c "$line")
  host insert sd
  await_node $SD present 60
  answer ""
  shows "look again: " 30 3 || why "no third prompt" || return
  local back=$(since_mark | grep -c "$line")
  answer 0
  finish
  [ "$out" = "$shown" ] || why "the pulled card stays in the list" || return
  [ "$back" -gt "$out" ] || why "the card put back is not in the list"
}

if [ "$VORN_mode" = bench ]; then
  CHECK=readers run_check readers
  . "${VORN_checks%/tests/vm/*}/bench/card_lab.sh"
  exit 0
fi

# The guest's system disks: swap on a partition of one, a file system the
# system needs mounted from a partition of the other.
mkswap -q /dev/vda1 >/dev/null && swapon /dev/vda1
mkfs.ext4 -q /dev/vdb1 && mount /dev/vdb1 /boot

for CHECK in readers list system_disks not_root mounted_vfat mount_at_question exclusive_open eject \
             window_follows card_changed_at_question dropping_card new_install_usb_two pull_during_format; do
  run_check $CHECK
done
. "${VORN_checks%/*}/reader_checks.sh"
