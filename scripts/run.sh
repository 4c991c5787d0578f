#!/usr/bin/env bash
# Builds vorninst.exe and starts it under Wine. Without a display it runs in
# Xvfb, saves a screenshot of the window and prints where.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vorn_install "${VORN_WIN_PACKAGES[@]}"
vorn_build_windows --target vorninst
exe="$VORN_WIN_BUILD/vorninst.exe"
vorn_wine_prefix "${WINEPREFIX:-$VORN_ROOT/build/wine-run}"

if [ -n "${DISPLAY:-}" ]; then
  exec wine "$exe"
fi

vorn_display
desktop=520x560
frames=$(mktemp -d)
# A Wine desktop of its own, so that the window gets its frame and caption.
wine explorer /desktop=vorninst,$desktop "$exe" >/dev/null 2>&1 &
app=$!
stop() {
  kill "$app" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$frames"
}

shown=false
for _ in $(seq 600); do
  if xdotool search --onlyvisible --name 'VORN Installer' >/dev/null 2>&1; then
    shown=true
    break
  fi
  sleep 0.05
done
if ! $shown; then
  echo "The window did not appear." >&2
  stop
  exit 1
fi

# The first drive scan, 500 ms after the window was made, hides the card
# buttons when no card is in. A burst of frames catches the window before
# that, as its template lays it out: the frame with the most dark (text)
# pixels on the desktop.
for i in $(seq -w 40); do xwd -root -silent >"$frames/$i.xwd"; done
best=""
best_dark=-1
for frame in "$frames"/*.xwd; do
  dark=$(convert "$frame" -crop "$desktop+0+0" +repage -colorspace gray -threshold 20% \
           -format '%[fx:round(100000*(1-mean))]' info:)
  if [ "$dark" -gt "$best_dark" ]; then
    best=$frame
    best_dark=$dark
  fi
done
shot="$VORN_ROOT/build/screenshot.png"
running="$VORN_ROOT/build/screenshot-running.png"
convert "$best" -crop "$desktop+0+0" +repage "$shot"
sleep 2
import -window root -crop "$desktop+0+0" +repage "$running"
stop
echo "Screenshot: $shot"
echo "After the first drive scans: $running"
