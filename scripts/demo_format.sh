#!/usr/bin/env bash
# Started under Wine by the demo format.com (scripts/demo/format_com.cpp):
# formats the demo card's image with mkfs.fat.
# Arguments: IMAGE FAT|FAT32 quick|full STATUS LOG. A full format zeroes the
# volume first, as Windows' does. Wine gives its Windows caller no handle to
# wait on, so the exit status goes to STATUS, last; the output to LOG.
set -uo pipefail
PATH=$PATH:/usr/sbin:/sbin
image=$1 file_system=$2 mode=$3 status_file=$4 log=$5

format() {
  case "$file_system" in
    FAT) bits=16 ;;
    FAT32) bits=32 ;;
    *) echo "unknown file system $file_system"; return 1 ;;
  esac
  if [ "$mode" = full ]; then
    local size
    size=$(stat -c %s "$image") || return 1
    dd if=/dev/zero of="$image" bs=512 count=$((size / 512)) conv=notrunc status=none || return 1
  fi
  # The card as a whole is the volume: no partition table on the demo card.
  mkfs.fat -F "$bits" "$image"
}

format >"$log" 2>&1
status=$?
printf '%s\n' "$status" >"$status_file.new"
mv "$status_file.new" "$status_file"
