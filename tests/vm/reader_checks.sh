# The card lab's checks of how the program meets real readers, sourced by
# tests/vm/checks.sh (its helpers: vorn, why, host, await_node, ...).

# The USB card with two partitions, both shown by the kernel, and the first
# one's boot sector zeroed, so that only a new format passes fsck.fat.
two_partitions_on_usb() {
  [ "$(blockdev --getsz $USB 2>/dev/null)" -gt 0 ] 2>/dev/null || out_and_back usb || return  # ejected before
  until [ "$(blockdev --getsz $USB 2>/dev/null)" -gt 0 ] 2>/dev/null; do sleep 0.2; done
  printf 'start=2048,size=131072,type=6\nstart=133120,size=262144,type=c\n' | sfdisk -q $USB >>"$LOGS/$CHECK" 2>&1 ||
    why "sfdisk could not write the table" || return
  await_node ${USB}1 present 10 && await_node ${USB}2 present 10 || why "the kernel shows no partition nodes" || return
  dd if=/dev/zero of=$USB bs=1M seek=1 count=1 oflag=direct status=none
}

# format on the USB card's first partition; mkfs.fat's command line as the
# program ran it, in MKFS.
format_first() {
  strace -f -qq -e trace=execve -e signal=none -o "$LOGS/exec" timeout 60 "$VORN" --addon $ADDON --card $USB \
    format --quick --fat </dev/null >>"$LOGS/$CHECK" 2>&1 || why "format ended with $?" || return
  MKFS=$(grep -F '"mkfs.fat"' "$LOGS/exec" | tail -n 1)
  echo "$MKFS" >>"$LOGS/$CHECK"
}

# Where the kernel shows the partition, mkfs.fat is given its own node (it
# refuses the whole disk of a partitioned card).
check_format_node() {
  two_partitions_on_usb || return
  format_first || return
  [[ $MKFS == *'"/dev/sda1"'* && $MKFS != *--offset* ]] || why "mkfs.fat was not given /dev/sda1: $MKFS" || return
  fsck.fat -n ${USB}1 >>"$LOGS/$CHECK" 2>&1 || why "fsck.fat finds no clean file system on ${USB}1"
}

# Where it does not (its node taken away, the other still there), the whole
# disk with -I, which mkfs.fat holds exclusively meanwhile.
check_format_whole() {
  two_partitions_on_usb || return
  partx -d --nr 1 $USB && await_node ${USB}1 gone 10 || why "partx could not take ${USB}1 away" || return
  format_first || return
  [[ $MKFS == *'"-I"'* && $MKFS == *'"/dev/sda"'* && $MKFS == *'"--offset", "2048"'* ]] ||
    why "mkfs.fat was not given -I on /dev/sda at the partition: $MKFS" || return
  partx -a --nr 1 $USB && await_node ${USB}1 present 10 || why "partx could not show ${USB}1 again" || return
  fsck.fat -n ${USB}1 >>"$LOGS/$CHECK" 2>&1 || why "fsck.fat finds no clean file system on ${USB}1"
}

# The SD host removes its disk while the card is out: the wait goes on. A
# card under 4000 MB: one partition.
check_sd_wait() { new_install $SD one; }

# A byte-for-byte copy of the SD card, the program's mark included, put in
# at the re-insert prompt: the card's own identity tells them apart, and the
# copy gets nothing, not even at a stop. QEMU gives every SD card the same
# CID, so the copy's is made another card's over sysfs, while the program
# is held (SIGSTOP) so that it sees the copy only as such.
copy_with_another_cid() {  # the copy in the SD reader; sets COPY, STAMP and CID
  put_in_copy $SD || return
  CID=$(readlink -f /sys/class/block/mmcblk0/device)/cid
  echo 1d4144534431364702abcdef0f012345 >/tmp/other.cid
  mount --bind /tmp/other.cid "$CID" || why "cannot change the copy's CID"
}

check_copy_at_reinsert() {
  # No table: New Install writes one and asks for the card out and back.
  dd if=/dev/zero of=$SD bs=1M count=1 oflag=direct status=none && blockdev --rereadpt $SD
  vorn_pty --card $SD new-install --camera left --layout one --quick --yes
  shows "Re-insert SD Card!" 60 || why "no re-insert prompt" || return
  host pull sd && await_node $SD gone 30 || why "the card did not leave: $HOST_SAID" || return
  pkill -STOP -x vorninst
  copy_with_another_cid
  local swapped=$?
  pkill -CONT -x vorninst
  [ $swapped = 0 ] || return
  shows "Remove SD Card!" 30 2 || why "the copy was taken for the card" || return
  pkill -INT -x vorninst
  finish
  local status=$?
  umount "$CID"
  host stamp "$COPY"
  [ "$HOST_SAID" = "$STAMP" ] || why "the copy was written" || return
  host pull sd && await_node $SD gone 30 && host insert sd && await_node $SD present 60
  [ $status = 130 ] || why "ended $status after Ctrl-C"
}

for CHECK in format_node format_whole sd_wait copy_at_reinsert; do
  run_check $CHECK
done
