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
# A Wine desktop of its own, so that the window gets its frame and caption.
wine explorer /desktop=vorninst,520x560 "$exe" >/dev/null 2>&1 &
app=$!
shot="$VORN_ROOT/build/screenshot.png"
running="$VORN_ROOT/build/screenshot-running.png"
# The first shot as soon as the window is up, before the first drive scan
# (500 ms later) has hidden the card buttons; the second once it runs.
if xdotool search --sync --name 'VORN Installer' >/dev/null 2>&1; then
  import -window root "$shot"
  sleep 3
  import -window root "$running"
else
  echo "The window did not appear." >&2
fi
kill "$app" 2>/dev/null || true
wineserver -k 2>/dev/null || true
[ -f "$shot" ] || exit 1
echo "Screenshot: $shot"
echo "After the first drive scans: $running"
