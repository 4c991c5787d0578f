#!/usr/bin/env bash
# Builds everything and runs every test: the logic natively against the
# simulated PC, then the Win32 program's tests under Wine. Installs what it
# needs on a Debian machine. Ends with "N passed, N failed".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
set -e
vorn_install "${VORN_NATIVE_PACKAGES[@]}" "${VORN_WIN_PACKAGES[@]}"
set +e

passed=0
failed=0
# A build that fails counts as one failure; its tests do not run.
native_built=true
if ! { cmake -S "$VORN_ROOT" -B "$VORN_NATIVE_BUILD" -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
       cmake --build "$VORN_NATIVE_BUILD" -j"$(nproc)"; }; then
  echo "The native build failed." >&2
  native_built=false
  failed=$((failed + 1))
fi
win_built=true
if ! vorn_build_windows; then
  echo "The Windows build failed." >&2
  win_built=false
  failed=$((failed + 1))
fi

# Adds up what one ctest run reports.
count() {
  local log=$1 total bad
  total=$(sed -n 's/.*tests passed, [0-9]* tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of.*/\1/p' "$log" | tail -1)
  if [ -z "$total" ]; then
    failed=$((failed + 1))  # ctest itself failed
    return
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

if $native_built; then
  native_log="$VORN_NATIVE_BUILD/ctest.log"
  (cd "$VORN_NATIVE_BUILD" && ctest --output-on-failure -j"$(nproc)") 2>&1 | tee "$native_log"
  count "$native_log"
fi

if $win_built; then
  # Wine: a prefix of the tests' own in which E: is a removable drive whose
  # device is an image file.
  # Headless always: a private Xvfb, even under a desktop session, so that
  # the tests' windows and keys stay off the user's screen.
  unset DISPLAY
  vorn_display
  vorn_wine_prefix "$VORN_WIN_BUILD/wineprefix"
  card_image="$VORN_WIN_BUILD/wine-card.img"
  rm -f "$card_image"
  truncate -s 8M "$card_image"
  mkdir -p "$WINEPREFIX/drive_e"
  ln -sfn ../drive_e "$WINEPREFIX/dosdevices/e:"
  ln -sfn "$card_image" "$WINEPREFIX/dosdevices/e::"
  wine reg add 'HKLM\Software\Wine\Drives' /v e: /t REG_SZ /d floppy /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  # Wine's Z: is the Unix root.
  export VORN_CARD_IMAGE="Z:${card_image//\//\\}"

  win_log="$VORN_WIN_BUILD/ctest.log"
  (cd "$VORN_WIN_BUILD" && ctest --output-on-failure) 2>&1 | tee "$win_log"
  count "$win_log"
  wineserver -k 2>/dev/null || true
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
