# The card lab's benchmark (tests/vm/lab.sh --bench, which scripts/bench.sh
# runs), sourced by tests/vm/checks.sh in the guest (its helpers: out_and_back,
# await_node, ...): a measurement, not a test.

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

CHECK=bench
bench_usb
