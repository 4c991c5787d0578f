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
# ---- the bench (lab.sh --bench) ---------------------------------------------

now() { date +%s.%N; }
elapsed() { awk -v from="$1" -v to="$2" 'BEGIN { printf "%.3f", to - from }'; }

# A two-partition New Install on the USB reader's 64 GB card, the time the
# user spends taking the card out and back left out; then the same card by
# hand with the same tools on the partition nodes, flushed to the card.
bench_usb() {
  local addon=/tmp/bench-addon n
  mkdir -p $addon/LYRE $addon/DCIM/100VORND
  head -c $((512 * 1024)) /dev/urandom >$addon/DISKBOOT.BIN
  head -c $((1024 * 1024)) /dev/urandom >$addon/PS.FIR
  for n in $(seq 10 49); do head -c $((n * 4096)) /dev/urandom >$addon/LYRE/FILE$n.BIN; done
  head -c 2000 /dev/urandom >$addon/DCIM/100VORND/DEMO0001.JPG
  echo "camera left" >$addon/LYRE.CFG.L
  echo "camera right" >$addon/LYRE.CFG.R
  local log=$LOGS/bench t0 t1 t2 t3
  : >"$log"
  t0=$(now)
  timeout 300 "$VORN" --addon $addon --card $USB new-install --camera left --layout two --quick --yes \
    </dev/null >"$log" 2>&1 &
  local program=$!
  until grep -qF "Remove SD Card!" "$log"; do sleep 0.05; kill -0 $program 2>/dev/null || break; done
  t1=$(now)
  out_and_back usb || { echo "@@SAY bench: $WHY"; return; }
  t2=$(now)
  wait $program
  local status=$?
  t3=$(now)
  grep -qF "Install finished!" "$log" || { echo "@@SAY bench: the program ended with $status"; tail -n 5 "$log"; return; }
  local program_time
  program_time=$(awk -v a="$(elapsed "$t0" "$t1")" -v b="$(elapsed "$t2" "$t3")" 'BEGIN { printf "%.3f", a + b }')
  out_and_back usb || { echo "@@SAY bench: $WHY"; return; }  # ejected at the end
  until [ "$(blockdev --getsz $USB 2>/dev/null)" -gt 0 ] 2>/dev/null; do sleep 0.2; done
  local small=4096 large_start=4097 sectors large
  sectors=$(blockdev --getsz $USB)
  large=$((sectors - large_start - 1))
  t0=$(now)
  printf 'label: dos\nstart=1,size=%d,type=1\nstart=%d,size=%d,type=b\n' $small $large_start $large |
    sfdisk -q $USB >>"$log" 2>&1
  await_node ${USB}2 present 10
  mkfs.fat -F 12 -h 1 ${USB}1 >>"$log" 2>&1
  printf 'BOOTDISK' | dd of=${USB}1 bs=1 seek=64 conv=notrunc status=none
  mcopy -i ${USB}1 $addon/DISKBOOT.BIN :: 2>>"$log"
  mkfs.fat -F 32 -s 64 -h $large_start ${USB}2 >>"$log" 2>&1
  mcopy -s -i ${USB}2 $addon/LYRE $addon/DCIM :: 2>>"$log"
  mcopy -i ${USB}2 $addon/LYRE.CFG.L ::LYRE/LYRE.CFG 2>>"$log"
  blockdev --flushbufs ${USB}1 ${USB}2 $USB
  t1=$(now)
  local floor_time
  floor_time=$(elapsed "$t0" "$t1")
  echo "@@SAY vorninst new-install, two partitions, 64 GB USB reader: $program_time s (the card out and back left out)"
  echo "@@SAY by hand: sfdisk, mkfs.fat, mcopy on the partition nodes (and a flush): $floor_time s"
  echo "@@SAY New Install on the USB reader: $(awk -v a="$program_time" -v b="$floor_time" 'BEGIN { printf "%.2f", a / b }') times by hand (goal: under 1.5)"
}

if [ "${VORN_mode:-checks}" = bench ]; then
  CHECK=bench
  bench_usb
else
  for CHECK in format_node format_whole sd_wait; do
    run_check $CHECK
  done
fi
