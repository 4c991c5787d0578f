#!/usr/bin/env bash
# Not a test: times the program's own quick FAT32 format in the simulated PC
# against mkfs.fat on the same volume, 32 GiB to 2 TiB, with the bytes each
# writes, and prints what the capacity test moves on 8 GB, 64 GB and 2 TiB.
# Then, as root, a whole New Install by vorninst on a 64 GB loop-backed card
# against the same card made by hand with sfdisk, mkfs.fat and mcopy.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

for arg in "$@"; do
  case "$arg" in
    -h | --help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

vorn_install "${VORN_NATIVE_PACKAGES[@]}"
# Optimised and without sanitizers, as the program runs.
bench_build="$VORN_BUILD/bench"
vorn_configure "$bench_build" -DCMAKE_BUILD_TYPE=Release -DVORN_SANITIZE=OFF
cmake --build "$bench_build" --target vorn_bench -j"$(nproc)" >/dev/null
"$bench_build/vorn_bench"

# ---- New Install on a 64 GB loop-backed card -----------------------------------

sectors=124735488  # a card sold as 64 GB
small=4096         # the boot partition of the two-partition layout, from sector 1
large_start=$((1 + small))
large=$((sectors - large_start - 1))

if [ "$(id -u)" -ne 0 ]; then
  echo "New Install on a 64 GB loop device: not measured (losetup needs root)."
  exit 0
fi
vorn_build_linux >/dev/null
dir="$VORN_BUILD/bench-linux"
rm -rf "$dir"
mkdir -p "$dir/addon/LYRE" "$dir/addon/DCIM/100VORND"
VORN_TEMP_PATHS+=("$dir")
# An add-on of a plausible size: a boot file, the add-on's folder of a few
# dozen files, an image folder.
head -c $((512 * 1024)) /dev/urandom >"$dir/addon/DISKBOOT.BIN"
head -c $((1024 * 1024)) /dev/urandom >"$dir/addon/PS.FIR"
for n in $(seq 10 49); do head -c $((n * 4096)) /dev/urandom >"$dir/addon/LYRE/FILE$n.BIN"; done
head -c 2000 /dev/urandom >"$dir/addon/DCIM/100VORND/DEMO0001.JPG"
echo "camera left" >"$dir/addon/LYRE.CFG.L"
echo "camera right" >"$dir/addon/LYRE.CFG.R"

# The sectors written to the loop device so far (the kernel's count).
written() { awk '{print $7}' "/sys/block/$(basename "$VORN_LOOP")/stat"; }
now() { date +%s.%N; }
since() { awk -v now="$(now)" -v start="$1" 'BEGIN { printf "%.3f", now - start }'; }

new_card() {
  rm -f "$dir/card.img"
  truncate -s $((sectors * 512)) "$dir/card.img"
  vorn_attach_loop "$dir/card.img"
}

new_card
before=$(written)
start=$(now)
"$VORN_LINUX_BUILD/vorninst" --card "$VORN_LOOP" --addon "$dir/addon" \
  new-install --camera left --layout two --quick --yes </dev/null >"$dir/program.log"
program_time=$(since "$start")
program_bytes=$((($(written) - before) * 512))
vorn_detach_loops

# The floor: the same card by hand, with the same tools, flushed to the card.
new_card
dev=$VORN_LOOP
before=$(written)
start=$(now)
printf 'label: dos\nstart=1,size=%d,type=1\nstart=%d,size=%d,type=b\n' "$small" "$large_start" "$large" |
  sfdisk -q --no-reread "$dev" 2>>"$dir/floor.log"
mkfs.fat -F 12 -h 1 --offset 1 "$dev" $((small / 2)) >>"$dir/floor.log" 2>&1
printf 'BOOTDISK' | dd of="$dev" bs=1 seek=$((512 + 64)) conv=notrunc status=none
export MTOOLS_SKIP_CHECK=1
mcopy -i "$dev@@512" "$dir/addon/DISKBOOT.BIN" :: 2>>"$dir/floor.log"
mkfs.fat -F 32 -s 64 -h "$large_start" --offset "$large_start" "$dev" $((large / 2)) >>"$dir/floor.log" 2>&1
mcopy -s -i "$dev@@$((large_start * 512))" "$dir/addon/LYRE" "$dir/addon/DCIM" :: 2>>"$dir/floor.log"
mcopy -i "$dev@@$((large_start * 512))" "$dir/addon/LYRE.CFG.L" ::LYRE/LYRE.CFG 2>>"$dir/floor.log"
blockdev --flushbufs "$dev"
floor_time=$(since "$start")
floor_bytes=$((($(written) - before) * 512))
vorn_detach_loops

printf '%-52s %14s bytes %8.3f s\n' "vorninst new-install, two partitions, 64 GB loop" "$program_bytes" "$program_time"
printf '%-52s %14s bytes %8.3f s\n' "by hand: sfdisk, mkfs.fat, mcopy (and a flush)" "$floor_bytes" "$floor_time"
printf 'New Install: %.2f times the floor (goal: under 1.5; the size test and the read-back included)\n' \
  "$(awk -v a="$program_time" -v b="$floor_time" 'BEGIN { print a / b }')"

# The same on a real reader: the card lab's guest (tests/vm), a New Install
# on its USB reader's 64 GB card beside the same card by hand there.
echo
if command -v qemu-system-x86_64 >/dev/null; then
  "$VORN_ROOT/tests/vm/lab.sh" --bench --checks none --program "$VORN_LINUX_BUILD/vorninst" |
    grep -v "passed, .* failed$"
else
  echo "New Install on the card lab's USB reader: not measured (no qemu-system-x86_64)."
fi
