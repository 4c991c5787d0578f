#!/usr/bin/env bash
# Builds everything and runs every test: the logic natively against the
# simulated PC, the Linux program on loop devices, its window on Qt's
# offscreen platform, the program on card readers in a virtual machine (the
# card lab), the Debian package, and the Win32 program's tests under Wine.
# Installs what it needs on a Debian machine, the packages the builds need
# first and the rest beside them. Ends with "N passed, N failed".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

usage() {
  cat <<EOF
Usage: scripts/test.sh [--help]

Installs the Debian packages the builds need (apt-get; log build/apt.log),
then the others beside the builds (build/apt-qt.log, apt-tests.log,
apt-package.log). Builds the optimised Linux program first and starts the
card lab on it (tests/vm/lab.sh: the program on an SD and a USB reader of a
QEMU guest, as root; log build/vm/lab.log), and the Debian package's tests
beside it (made from the same build; log build/package.log). Meanwhile it
builds the native tests (clang, with AddressSanitizer and UBSan) and runs
them (among them the Linux program's on loop devices, as root, image files
where losetup is refused, and the window's on Qt's offscreen platform; log
build/native/ctest.log) beside the Windows build and its tests under Wine,
side by side in Wine prefixes of their own under build/wine-tests, each with
a private Xvfb and a removable drive E: backed by an image file.
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

passed=0
failed=0
# How long each part took, said at the end: the README's figures.
started=0  # SECONDS counts from the command's start, apt-get included
times=()
took() { times+=("$(printf '%-58s %4d s' "$1" $((SECONDS - $2)))"); }

# Packages in stages: what the builds need first, in the foreground; the
# rest in one chain beside the builds, each stage said done in a file of
# its own (0 when installed) for the part that waits for it.
stages="$VORN_BUILD/apt-stages"
rm -rf "$stages"
mkdir -p "$stages"
part=$SECONDS
set -e
vorn_install "${VORN_NATIVE_PACKAGES[@]}"
set +e
took "apt-get: what the builds need" "$part"
{
  stage() {
    local name=$1 start=$SECONDS status=0
    shift
    VORN_APT_LOG="$VORN_BUILD/apt-$name.log" vorn_install "$@" || status=1
    echo $((SECONDS - start)) >"$stages/$name.took"
    echo $status >"$stages/$name"
  }
  stage qt qt6-base-dev
  # One apt-get for both: each run of it costs its triggers (the manual's
  # index, the libraries' cache) again.
  stage tests "${VORN_LAB_PACKAGES[@]}" "${VORN_WIN_PACKAGES[@]}" "${VORN_WINDOW_PACKAGES[@]}"
  # The package is tried last: its checkers yield to everything else.
  renice -n 19 -p "$BASHPID" >/dev/null
  stage package "${VORN_PACKAGE_PACKAGES[@]}"
} &
apt_pid=$!
VORN_OWN_PIDS+=("$apt_pid")
# Waits for the stage NAME; true when its packages are installed.
await_stage() {
  while [ ! -s "$stages/$1" ]; do
    kill -0 "$apt_pid" 2>/dev/null || break
    sleep 0.5
  done
  [ "$(cat "$stages/$1" 2>/dev/null)" = 0 ] && return 0
  echo "The packages of the $1 stage could not be installed (log: $VORN_BUILD/apt-$1.log)." >&2
  return 1
}

# The card lab is the slowest part, and runs on the optimised vorninst (the
# sanitized one is too slow for the emulated machine's time limits): that is
# built first, and the lab runs beside everything else from then on. Its
# result is counted at the end.
lab_log="$VORN_BUILD/vm/lab.log"
lab_pid=""
part=$SECONDS
if ! VORN_RELEASE_WINDOW=OFF vorn_build_linux >/dev/null; then
  echo "The Linux program's optimised build failed." >&2
  failed=$((failed + 1))
elif ! await_stage tests; then
  failed=$((failed + 1))
else
  # The packages still to come are needed later than what the builds make
  # meanwhile: they share the processor with the builds (below), not before.
  renice -n 10 -p "$apt_pid" >/dev/null
  mkdir -p "$VORN_BUILD/vm"
  "$VORN_ROOT/tests/vm/lab.sh" --program "$VORN_RELEASE_BUILD/vorninst" --limit 420 >"$lab_log" 2>&1 &
  lab_pid=$!
  VORN_OWN_PIDS+=("$lab_pid")
fi
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
  # Nothing waits for it but the end: it takes what the rest leaves.
  renice -n 19 -p "$BASHPID" >/dev/null
  package_start=$SECONDS
  if ! { await_stage tests && await_stage package; }; then
    echo "The Debian package could not be made."
  elif "$VORN_ROOT/scripts/package.sh" --deb-only; then
    cd "$VORN_PACKAGE_BUILD" && ctest -L package --output-on-failure
  else
    echo "The Debian package could not be made."
  fi
  echo "The package took $((SECONDS - package_start)) s."
} >"$package_log" 2>&1 &
package_pid=$!
VORN_OWN_PIDS+=("$package_pid")

# A build that fails counts as one failure; its tests do not run.
# The Linux program's tests are the longest chain (they take the loop
# devices one at a time): their program is built first and they start at
# once, beside the rest of the native build. The window's test, which takes
# a loop device too, follows them.
native_ready="$VORN_BUILD/native-ready"
rm -f "$native_ready"
native_pids=()
native_logs=()
part=$SECONDS
if ! { await_stage qt && vorn_configure_native &&
       cmake --build "$VORN_NATIVE_BUILD" -j"$(nproc)" --target vorn_linux_tests; }; then
  echo "The native build failed." >&2
  failed=$((failed + 1))
elif await_stage tests; then
  native_logs+=("$VORN_NATIVE_BUILD/ctest-linux.log")
  {
    (cd "$VORN_NATIVE_BUILD" && ctest --output-on-failure -R '^linux\.')
    while [ ! -f "$native_ready" ]; do sleep 0.5; done
    if [ "$(<"$native_ready")" = 0 ]; then (cd "$VORN_NATIVE_BUILD" && ctest --output-on-failure -R '^window$'); fi
  } >"${native_logs[-1]}" 2>&1 &
  native_pids+=("$!")
  VORN_OWN_PIDS+=("$!")
fi
native_built=false
if [ ${#native_pids[@]} -gt 0 ]; then
  if cmake --build "$VORN_NATIVE_BUILD" -j"$(nproc)"; then
    native_built=true
  else
    echo "The native build failed." >&2
    failed=$((failed + 1))
  fi
fi
$native_built && echo 0 >"$native_ready" || echo 1 >"$native_ready"
took "the native build (sanitized)" "$part"

# What the tests and the Windows build need besides.
tests_ready=true
await_stage tests || { tests_ready=false; failed=$((failed + 1)); }

# The Wine tests' slots (see wine_slot.sh): one per test run at once. Each
# prefix runs in Wine's virtual desktop: without a window manager, Wine waits
# seconds for every window it hides on the bare Xvfb.
slot_prefix() {
  local slot=$1
  export DISPLAY
  DISPLAY=$(<"$slot/display")
  vorn_wine_prefix "$slot/prefix" \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"'
}
prepare_slot() {
  local slot=$1
  set -e
  slot_prefix "$slot"
  vorn_wine_stop "$slot/prefix"  # one a killed run may have left
  : >"$slot/card.img"
  vorn_wine_map_card "$slot/card.img"
  # A server that stays, with Wine's own services and desktop started here,
  # outside ctest: started by a test they would hold its output open.
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

# Each slot's prefix is made beside the builds, once Wine is installed.
slots_ready=false
slot_pids=()
if $tests_ready; then
  slots_dir="$VORN_BUILD/wine-tests"
  # Twice as many as processors, at most 4: a Wine test spends most of its
  # time waiting on Wine, and a slot costs a copied prefix and an Xvfb.
  slot_count=$(($(nproc) * 2 < 4 ? $(nproc) * 2 : 4))
  slots_ready=true
  for ((n = 1; n <= slot_count; n++)); do
    slot="$slots_dir/$n"
    mkdir -p "$slot"
    VORN_OWN_PREFIXES+=("$slot/prefix")
    # Headless always, even under a desktop session, so that the tests'
    # windows and keys stay off the user's screen.
    vorn_xvfb || { slots_ready=false; break; }
    echo "$VORN_XVFB_DISPLAY" >"$slot/display"
  done
  # A slot without a prefix takes a copy of the first one's: Wine makes one
  # in some 17 s, a copy takes a second (no path of its own is in it).
  $slots_ready && {
    set -e
    slot_prefix "$slots_dir/1"
    vorn_wine_stop "$slots_dir/1/prefix"
    for ((n = 2; n <= slot_count; n++)); do
      if [ ! -f "$slots_dir/$n/prefix/vorn-settings.reg" ]; then
        rm -rf "$slots_dir/$n/prefix"
        cp -a "$slots_dir/1/prefix" "$slots_dir/$n/prefix"
      fi
    done
    prepared=()
    for ((n = 1; n <= slot_count; n++)); do
      prepare_slot "$slots_dir/$n" >"$slots_dir/$n/prepare.log" 2>&1 &
      prepared+=("$!")
    done
    for pid in "${prepared[@]}"; do wait "$pid"; done
  } >"$slots_dir/prepare.log" 2>&1 &
  slot_pids+=("$!")
  VORN_OWN_PIDS+=("$!")
fi

# The logic's tests beside the Linux program's, the Windows build and the
# Wine tests.
native_start=$SECONDS
if $native_built && $tests_ready; then
  native_logs+=("$VORN_NATIVE_BUILD/ctest-logic.log")
  (cd "$VORN_NATIVE_BUILD" && ctest --output-on-failure -j"$(nproc)" -E '^(linux\..*|window)$') \
    >"${native_logs[-1]}" 2>&1 &
  native_pids+=("$!")
  VORN_OWN_PIDS+=("$!")
fi

win_built=false
if $tests_ready; then
  part=$SECONDS
  # More jobs than processors: the tests beside it often wait.
  if VORN_JOBS=$(($(nproc) + 2)) vorn_build_windows; then
    win_built=true
  else
    echo "The Windows build failed." >&2
    failed=$((failed + 1))
  fi
  took "the Windows build (beside the native tests)" "$part"
fi
for pid in "${slot_pids[@]}"; do wait "$pid" || slots_ready=false; done
if $win_built && ! $slots_ready; then
  echo "The Wine test prefixes could not be prepared (logs: $slots_dir/prepare.log, $slots_dir/N/prepare.log)." >&2
  failed=$((failed + 1))
fi

# Adds up what the ctest runs of a log report.
count() {
  local log=$1 total bad
  total=$(sed -n 's/.*tests passed, [0-9]* tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log" | awk '{ s += $1 } END { if (NR) print s }')
  bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of.*/\1/p' "$log" | awk '{ s += $1 } END { if (NR) print s }')
  if [ -z "$total" ]; then
    failed=$((failed + 1))  # ctest itself failed
    return
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

if $win_built && $slots_ready; then
  export VORN_WINE_SLOTS="$slots_dir" VORN_WINE_SLOT_COUNT="$slot_count"
  win_log="$VORN_WIN_BUILD/ctest.log"
  part=$SECONDS
  (cd "$VORN_WIN_BUILD" && ctest --output-on-failure -j"$slot_count") 2>&1 | tee "$win_log"
  count "$win_log"
  took "the Wine tests (beside the native tests)" "$part"
fi

if [ ${#native_pids[@]} -gt 0 ]; then
  for pid in "${native_pids[@]}"; do wait "$pid"; done
  took "the native tests after the native build (beside the rest)" "$native_start"
  for log in "${native_logs[@]}"; do
    echo "--- The native tests ($log)"
    cat "$log"
    count "$log"
  done
fi

wait "$package_pid"
times+=("$(printf '%-58s %4s s' "the package, made and tried (beside the rest)" \
  "$(sed -n 's/^The package took \([0-9]*\) s.$/\1/p' "$package_log")")")
echo "--- The Debian package ($package_log)"
grep -E '^(The Debian package|[0-9]+% tests passed|FAIL|The package took)' "$package_log"
count "$package_log"

if [ -n "$lab_pid" ]; then
  wait "$lab_pid"
  times+=("$(printf '%-58s %4s s' "the card lab (beside the rest)" \
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

for name in qt tests package; do
  [ -f "$stages/$name.took" ] &&
    times+=("$(printf '%-58s %4s s' "apt-get: the $name stage's packages (beside the builds)" "$(<"$stages/$name.took")")")
done
took "in all" "$started"
printf '%s\n' "--- How long each part took" "${times[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
