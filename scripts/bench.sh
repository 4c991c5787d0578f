#!/usr/bin/env bash
# Not a test: times the program's own quick FAT32 format in the simulated PC
# against mkfs.fat on the same volume, 32 GiB to 2 TiB, with the bytes each
# writes, and prints what the capacity test moves on 8 GB, 64 GB and 2 TiB.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

for arg in "$@"; do
  case "$arg" in
    -h | --help) sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

vorn_install "${VORN_NATIVE_PACKAGES[@]}"
# Optimised and without sanitizers, as the program runs.
bench_build="$VORN_BUILD/bench"
cmake -S "$VORN_ROOT" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release -DVORN_SANITIZE=OFF >/dev/null
cmake --build "$bench_build" --target vorn_bench -j"$(nproc)" >/dev/null
"$bench_build/vorn_bench"
