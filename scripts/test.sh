#!/usr/bin/env bash
# Builds everything and runs every test: the logic natively against the
# simulated PC, the Linux program on loop devices, its window on Qt's
# offscreen platform, the program on card readers in a virtual machine (the
# card lab) and the Debian package (both beside the others), and the Win32
# program's tests under Wine. Installs what it needs on a Debian machine, in
# one apt-get. Ends with "N passed, N failed".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

usage() {
  cat <<EOF
Usage: scripts/test.sh [--help]

Builds the optimised Linux program first and starts the card lab on it
(tests/vm/lab.sh: the program on an SD and a USB reader of a QEMU guest, as
root; log build/vm/lab.log), and the Debian package's tests beside it (made
from the same build; log build/package.log). Meanwhile it builds the native
tests and the Windows program with its tests, and runs the native ones (with
AddressSanitizer and UBSan; among them the Linux program's on loop devices, as
root, image files where losetup is refused, and the window's on Qt's
offscreen platform) and the Wine ones, side by side in Wine prefixes of their
own under build/wine-tests, each with a private Xvfb and a removable drive E:
backed by an image file. Installs missing Debian packages with one apt-get
first (log: build/apt.log).
Ends with the line "N passed, N failed"; the exit status is 0 only when every
test passed. A build that fails counts as one failure. One run at a time in a
checkout.

  --help   print this and do nothing else
EOF
}

for arg in "$@"; do
  case "$arg" in
    -h | --help) usage; exit 0 ;;
    *) echo "test.sh: unknown option $arg" >&2; usage >&2; exit 2 ;;
  esac
done

# Two test runs at once would stop each other's Wine test prefixes.
vorn_one_at_a_time test.sh
set -e
# Everything every part needs, in one apt-get.
vorn_install "${VORN_NATIVE_PACKAGES[@]}" "${VORN_WIN_PACKAGES[@]}" "${VORN_LAB_PACKAGES[@]}" \
  "${VORN_WINDOW_PACKAGES[@]}" "${VORN_PACKAGE_PACKAGES[@]}"
set +e

passed=0
failed=0
# How long each part took, said at the end: the README's figures.
started=0  # SECONDS counts from the command's start, apt-get included
times=()
took() { times+=("$(printf '%-50s %4d s' "$1" $((SECONDS - $2)))"); }
# The card lab is the slowest part, and runs on the optimised vorninst (the
# sanitized one is too slow for the emulated machine's time limits): that is
# built first, and the lab runs beside everything else from then on. Its
# result is counted at the end.
lab_log="$VORN_BUILD/vm/lab.log"
lab_pid=""
part=$SECONDS
if ! vorn_build_linux >/dev/null; then
  echo "The Linux program's optimised build failed." >&2
  failed=$((failed + 1))
else
  mkdir -p "$VORN_BUILD/vm"
  "$VORN_ROOT/tests/vm/lab.sh" --program "$VORN_RELEASE_BUILD/vorninst" --limit 420 >"$lab_log" 2>&1 &
  lab_pid=$!
  VORN_OWN_PIDS+=("$lab_pid")
fi
times+=("$(printf '%-50s %4d s' "apt-get and the start" "$part")")
took "the optimised build" "$part"
# The lab's checks keep time (a card pulled, a prompt waited for) in an
# emulated machine: the builds and tests started from here on yield it the
# processor, and take what it leaves.
renice -n 10 -p $$ >/dev/null

# The Debian package beside the others too: made from the same optimised
# build (the rest of it: the window, the manual pages), installed into a
# scratch root and tried there.
package_log="$VORN_BUILD/package.log"
{
  package_start=$SECONDS
  if "$VORN_ROOT/scripts/package.sh" --deb-only; then
    cd "$VORN_PACKAGE_BUILD" && ctest -L package --output-on-failure
  else
    echo "The Debian package could not be made."
  fi
  echo "The package took $((SECONDS - package_start)) s."
} >"$package_log" 2>&1 &
package_pid=$!
VORN_OWN_PIDS+=("$package_pid")

# A build that fails counts as one failure; its tests do not run.
native_built=true
part=$SECONDS
if ! { cmake -S "$VORN_ROOT" -B "$VORN_NATIVE_BUILD" -DCMAKE_BUILD_TYPE=Debug $(vorn_launcher) >/dev/null &&
       cmake --build "$VORN_NATIVE_BUILD" -j"$(nproc)"; }; then
  echo "The native build failed." >&2
  native_built=false
  failed=$((failed + 1))
fi
took "the native build (sanitized)" "$part"
win_built=true
part=$SECONDS
if ! vorn_build_windows; then
  echo "The Windows build failed." >&2
  win_built=false
  failed=$((failed + 1))
fi
took "the Windows build" "$part"

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
  part=$SECONDS
  (cd "$VORN_NATIVE_BUILD" && ctest --output-on-failure -j"$(nproc)") 2>&1 | tee "$native_log"
  count "$native_log"
  took "the native tests (logic, Linux program, window)" "$part"
fi

# The Wine tests' slots (see wine_slot.sh): one per test run at once. Each
# prefix runs in Wine's virtual desktop: without a window manager, Wine waits
# seconds for every window it hides on the bare Xvfb.
prepare_slot() {
  local slot=$1
  set -e
  export DISPLAY
  DISPLAY=$(<"$slot/display")
  vorn_wine_prefix "$slot/prefix" \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"'
  vorn_wine_stop "$slot/prefix"  # one a killed run may have left
  : >"$slot/card.img"
  vorn_wine_map_card "$slot/card.img"
  # A server that stays, with Wine's own services and desktop started here,
  # outside ctest: started by a test they would hold its output open.
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

if $win_built; then
  slots_dir="$VORN_BUILD/wine-tests"
  slot_count=$(($(nproc) < 4 ? $(nproc) : 4))
  setup_pids=()
  for ((n = 1; n <= slot_count; n++)); do
    slot="$slots_dir/$n"
    mkdir -p "$slot"
    VORN_OWN_PREFIXES+=("$slot/prefix")
    # Headless always, even under a desktop session, so that the tests'
    # windows and keys stay off the user's screen.
    vorn_xvfb || exit 1
    echo "$VORN_XVFB_DISPLAY" >"$slot/display"
    prepare_slot "$slot" &
    setup_pids+=("$!")
    VORN_OWN_PIDS+=("$!")
  done
  slots_ready=true
  for pid in "${setup_pids[@]}"; do wait "$pid" || slots_ready=false; done
  if $slots_ready; then
    export VORN_WINE_SLOTS="$slots_dir" VORN_WINE_SLOT_COUNT="$slot_count"
    win_log="$VORN_WIN_BUILD/ctest.log"
    part=$SECONDS
    (cd "$VORN_WIN_BUILD" && ctest --output-on-failure -j"$slot_count") 2>&1 | tee "$win_log"
    count "$win_log"
    took "the Wine tests" "$part"
  else
    echo "The Wine test prefixes could not be prepared." >&2
    failed=$((failed + 1))
  fi
fi

wait "$package_pid"
times+=("$(printf '%-50s %4s s' "the package, made and tried (beside the rest)" \
  "$(sed -n 's/^The package took \([0-9]*\) s.$/\1/p' "$package_log")")")
echo "--- The Debian package ($package_log)"
grep -E '^(The Debian package|[0-9]+% tests passed|FAIL|The package took)' "$package_log"
count "$package_log"

if [ -n "$lab_pid" ]; then
  wait "$lab_pid"
  times+=("$(printf '%-50s %4s s' "the card lab (beside the rest)" \
    "$(sed -n 's/^The card lab took .* and \([0-9]*\) s in all.$/\1/p' "$lab_log")")")
  echo "--- The card lab ($lab_log)"
  grep -v '^ ' "$lab_log"
  lab_result=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$lab_log" | tail -1)
  if [ -n "$lab_result" ]; then
    passed=$((passed + ${lab_result%% passed*}))
    lab_failed=${lab_result#*passed, }
    failed=$((failed + ${lab_failed%% failed}))
  else
    failed=$((failed + 1))  # the lab itself failed
  fi
fi

took "in all" "$started"
printf '%s\n' "--- How long each part took" "${times[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
