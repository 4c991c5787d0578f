#!/usr/bin/env bash
# The emulator of the Windows build: runs one Wine test program in a test slot
# that no other test uses meanwhile. scripts/test.sh prepares the slots under
# $VORN_WINE_SLOTS (1, 2, ... $VORN_WINE_SLOT_COUNT), each a Wine prefix of its
# own with its running server, its own display, and E: mapped to its own card
# image, so that tests run side by side.
# VORN_NO_DISPLAY=1 runs the program without a display.
set -euo pipefail

if [ -z "${VORN_WINE_SLOTS:-}" ] || [ -z "${VORN_WINE_SLOT_COUNT:-}" ]; then
  echo "wine_slot.sh: no Wine test slots; run the tests through scripts/test.sh" >&2
  exit 1
fi

# The first free slot; ctest runs no more tests at once than there are slots,
# so one frees up soon.
slot=""
while [ -z "$slot" ]; do
  for ((n = 1; n <= VORN_WINE_SLOT_COUNT; n++)); do
    exec {lock}>"$VORN_WINE_SLOTS/$n/lock"
    if flock -n "$lock"; then
      slot="$VORN_WINE_SLOTS/$n"
      break
    fi
    exec {lock}>&-
  done
  [ -n "$slot" ] || sleep 0.05
done

export WINEPREFIX="$slot/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY
DISPLAY=$(<"$slot/display")
[ "${VORN_NO_DISPLAY:-}" = 1 ] && unset DISPLAY

# Every test program starts with a blank card and an empty E:\. The image
# keeps its inode, which E: is mapped to.
card="$slot/card.img"
: >"$card"
truncate -s 8M "$card"
find "$WINEPREFIX/drive_e" -mindepth 1 -delete
export VORN_CARD_IMAGE="Z:${card//\//\\}"

# The lock stays with this script alone, so that it ends with the test.
# Wine that fails to start says nothing and ends at once (seen once in a
# while on a loaded machine): such a run is no verdict, and is made again
# once. Every test program says something when it runs.
output=$(wine "$@" {lock}>&- 2>&1) && status=0 || status=$?
if [ "$status" != 0 ] && [ -z "$output" ]; then
  echo "wine_slot.sh: Wine ended with $status and said nothing; running it once more" >&2
  output=$(wine "$@" {lock}>&- 2>&1) && status=0 || status=$?
fi
[ -z "$output" ] || printf '%s\n' "$output"
exit "$status"
