# shellcheck shell=bash
# Shared by run.sh and test.sh: packages, builds, private displays and the
# project's own Wine prefixes, and the clean-up of everything they started.

VORN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VORN_BUILD="$VORN_ROOT/build"
VORN_NATIVE_BUILD="$VORN_BUILD/native"
VORN_WIN_BUILD="$VORN_BUILD/win"
# vorninst on Linux as users get it: optimised, without sanitizers, hardened
# as Debian builds its packages. One build serves the run command, the card
# lab and the package, so the test command builds it once; making the
# package later relinks nothing the card lab is running.
VORN_RELEASE_BUILD="$VORN_BUILD/release"
VORN_LINUX_BUILD=$VORN_RELEASE_BUILD
VORN_PACKAGE_BUILD=$VORN_RELEASE_BUILD
VORN_PACKAGES_DIR="$VORN_BUILD/packages"

VORN_WIN_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
                   googletest wine wine64 fonts-wine xvfb)
# What the run command takes its screenshots with.
VORN_SCREENSHOT_PACKAGES=(xvfb x11-apps xdotool imagemagick)
# The Linux host: libmount for the mount table, losetup and mount for its
# tests on loop devices, mkfs.ext4 for a card the system has mounted, btrfs-progs
# for a member of a btrfs RAID, strace for how the card is opened and to slow
# a card down so that a stop lands inside the work. The tests are compiled by
# clang (with its sanitizers' runtime), users' builds by g++.
VORN_NATIVE_PACKAGES=(cmake ninja-build g++ clang lld libclang-rt-dev googletest libgtest-dev dosfstools mtools fdisk
                      pkg-config libmount-dev mount e2fsprogs btrfs-progs strace dpkg-dev)
# The window on Linux (Qt 6, its tests on the offscreen platform, pkexec to
# start its engine) and what its package is checked with.
VORN_WINDOW_PACKAGES=(qt6-base-dev pkexec polkitd desktop-file-utils appstream file)
# The Debian package's own checks.
VORN_PACKAGE_PACKAGES=(man-db bash-completion lintian dpkg-dev)
# The card lab (tests/vm): QEMU, the guest's busybox, the initramfs, the
# kernel's module tools, and strace for what a refused user opened.
VORN_LAB_PACKAGES=(qemu-system-x86 busybox-static cpio kmod strace util-linux python3)

# What the command started, stopped when it ends, however it ends: Wine
# prefixes whose server (and with it their programs) is killed, other
# processes, and temporary files.
VORN_OWN_PREFIXES=()
VORN_OWN_PIDS=()
VORN_TEMP_PATHS=()
# Image files the command attaches to loop devices: whatever loop device
# holds one of them is detached at the end.
VORN_OWN_LOOP_FILES=()

VORN_PID_FILE=""

vorn_cleanup() {
  local status=$? pid prefix
  # A second Ctrl-C does not cut the clean-up short.
  trap '' INT TERM
  for pid in "${VORN_OWN_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for prefix in "${VORN_OWN_PREFIXES[@]}"; do vorn_wine_stop "$prefix"; done
  vorn_detach_loops
  rm -rf "${VORN_TEMP_PATHS[@]}"
  if [ -n "$VORN_PID_FILE" ] && [ "$(cat "$VORN_PID_FILE" 2>/dev/null)" = "$$" ]; then
    rm -f "$VORN_PID_FILE"
  fi
  exit "$status"
}
trap vorn_cleanup EXIT
# Ctrl-C ends the whole command (bash runs the trap once the foreground
# program has ended), and the EXIT trap cleans up.
trap 'exit 130' INT
trap 'exit 143' TERM

# One run of the command NAME at a time in this checkout: a second one would
# share, and stop, the first one's Wine prefixes. Ends the command with 1 when
# another is running. The lock is a PID file, checked and written under a
# short flock, so that nothing the command starts (a Wine server outliving a
# killed run) holds it.
vorn_one_at_a_time() {
  local name=$1 guard other
  local pid_file="$VORN_BUILD/$name.pid"
  mkdir -p "$VORN_BUILD"
  exec {guard}>"$pid_file.lock"
  flock "$guard"
  other=$(cat "$pid_file" 2>/dev/null || true)
  if [ -n "$other" ] && [ "$other" != "$$" ] && kill -0 "$other" 2>/dev/null &&
     tr '\0' ' ' <"/proc/$other/cmdline" 2>/dev/null | grep -qF "$name"; then
    exec {guard}>&-
    echo "$name is already running in this checkout (process $other); wait for it to end or stop it first." >&2
    exit 1
  fi
  echo "$$" >"$pid_file"
  VORN_PID_FILE=$pid_file
  exec {guard}>&-
}

# Installs the Debian packages that are missing; apt's output goes to a log.
vorn_install() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local log=${VORN_APT_LOG:-$VORN_BUILD/apt.log} sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  mkdir -p "$VORN_BUILD"
  echo "Installing ${missing[*]} with apt-get (log: $log)"
  # The package lists are fetched once a command.
  if ! { { $VORN_APT_UPDATED || "${sudo[@]}" apt-get update; } &&
         "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
           apt-get install -y --no-install-recommends "${missing[@]}"
       } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "apt-get failed; the whole output is in $log" >&2
    return 1
  fi
  VORN_APT_UPDATED=true
}
VORN_APT_UPDATED=false

# ccache, where the machine has it (the commands do not install it: on a
# fresh machine it would only add its own work): a build tree made anew (a
# fresh clone, CI) compiles only what changed since the machine last
# compiled it.
vorn_launcher() {
  if command -v ccache >/dev/null; then echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
}
# Paths inside the checkout count relative to it, so that another clone
# (CI's) finds what this one compiled. A miss takes the compiler's own list
# of headers rather than running the preprocessor a second time. The
# precompiled headers are cached too, which needs ccache told to trust them.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$VORN_ROOT}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}" \
  CCACHE_DEPEND="${CCACHE_DEPEND:-true}" \
  CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"

# Configures the build tree TREE (CMake's options follow) for Ninja, which
# sees the whole build at once and starts far fewer processes than make. A
# tree another generator made is made anew.
vorn_configure() {
  local tree=$1
  shift
  if [ -f "$tree/CMakeCache.txt" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$tree/CMakeCache.txt"; then
    rm -rf "$tree"
  fi
  cmake -G Ninja -S "$VORN_ROOT" -B "$tree" $(vorn_launcher) "$@" >/dev/null
}

# The optimised build, configured as the package needs it: Debian's flags
# (its -O2, not CMake's -O3) without -g, since the package's programs are
# stripped. VORN_RELEASE_WINDOW=OFF leaves the window out (Qt may still be
# being installed); the window's targets change nothing of vorninst's.
vorn_configure_release() {
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
  vorn_configure "$VORN_RELEASE_BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DVORN_WINDOW="${VORN_RELEASE_WINDOW:-ON}" -DVORN_SANITIZE=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DVORN_PACKAGES_DIR="$VORN_PACKAGES_DIR" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
}

# The native tests' build: the logic, the Linux program and the window with
# AddressSanitizer and UBSan, compiled by clang, which does it in half the
# time g++ takes at -O0 (and warns where g++ does not); the users' builds
# stay g++'s. Line tables only: the sanitizers' reports name each file and
# line, and the build takes a sixth less than with full debug information.
vorn_configure_native() {
  vorn_configure "$VORN_NATIVE_BUILD" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld
}

# Builds the optimised vorninst (and the targets given).
vorn_build_linux() {
  vorn_configure_release
  cmake --build "$VORN_RELEASE_BUILD" -j"$(nproc)" --target vorninst "$@"
}

# Attaches IMAGE (with losetup's options after it) to a free loop device and
# sets VORN_LOOP to it. The image is recorded first, so that the clean-up
# detaches it even when Ctrl-C comes in between.
vorn_attach_loop() {
  local image=$1
  shift
  VORN_OWN_LOOP_FILES+=("$image")
  VORN_LOOP=$(losetup -f --show "$@" "$image")
}

# Detaches every loop device that holds one of the command's images.
vorn_detach_loops() {
  local image device
  for image in "${VORN_OWN_LOOP_FILES[@]}"; do
    for device in $(losetup -n -O NAME -j "$image" 2>/dev/null); do losetup -d "$device" 2>/dev/null || true; done
  done
}

vorn_configure_windows() {
  vorn_configure "$VORN_WIN_BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$VORN_ROOT/cmake/mingw-w64-x86_64.cmake" "$@"
}

vorn_build_windows() {
  vorn_configure_windows
  cmake --build "$VORN_WIN_BUILD" -j"${VORN_JOBS:-$(nproc)}" "$@"
}

# Starts a private Xvfb and sets VORN_XVFB_DISPLAY to its display (":N"),
# with a screen of WIDTHxHEIGHT (1024x768 when not given).
# Xvfb picks a free number itself, so several can start side by side; its own
# session keeps Ctrl-C from killing it before the clean-up is done with Wine.
vorn_xvfb() {
  local screen=${1:-1024x768} number_file
  number_file=$(mktemp)
  VORN_TEMP_PATHS+=("$number_file")
  setsid Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  local pid=$!
  VORN_OWN_PIDS+=("$pid")
  for _ in $(seq 100); do
    [ -s "$number_file" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$number_file" ]; then
    echo "Xvfb did not start." >&2
    return 1
  fi
  VORN_XVFB_DISPLAY=":$(tr -d '[:space:]' <"$number_file")"
}

# Kills the Wine server of one of the project's prefixes and every program in
# it; nothing else.
vorn_wine_stop() {
  WINEPREFIX="$1" wineserver -k 2>/dev/null || true
}

# Makes PREFIX the Wine prefix of what follows, whatever the caller's
# environment says, and stops it when the command ends.
vorn_wine_use() {
  export WINEPREFIX="$1"
  export WINEARCH=win64
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono or Gecko installers.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  VORN_OWN_PREFIXES+=("$1")
}

# The settings of every prefix (more can follow as arguments, in .reg syntax):
# E: is a removable drive wherever it is mapped, and both faces the dialog
# templates name are Wine's MS Sans Serif, drawn like the Windows one, rather
# than a Linux face about 10% wider that cuts labels off.
vorn_wine_settings() {
  printf '%s\n' 'REGEDIT4' '' \
    '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]' '"e:"="floppy"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
    '"Microsoft Sans Serif"="MS Sans Serif"' '' "$@"
}

# Creates the prefix PREFIX the first time and applies the settings when they
# changed. Uses it for what follows (vorn_wine_use).
vorn_wine_prefix() {
  local prefix=$1
  shift
  vorn_wine_use "$prefix"
  local applied="$prefix/vorn-settings.reg" settings
  settings=$(vorn_wine_settings "$@")
  # The copy of the settings is written last, so an interrupted creation is
  # redone.
  if [ ! -f "$applied" ]; then
    echo "Creating the Wine prefix $prefix (about 10 s, only the first time)"
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w  # the registry files are written when the server ends
    if [ ! -f "$prefix/system.reg" ]; then
      echo "wineboot could not create $prefix" >&2
      return 1
    fi
  fi
  # Debian's Wine does not find its own fonts (Marlett draws the caption
  # buttons, Tahoma the captions, the .fon files hold the MS Sans Serif faces
  # of the dialogs); the prefix's font folder offers them.
  local font
  for font in /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon; do
    if [ -e "$font" ]; then ln -sf "$font" "$prefix/drive_c/windows/Fonts/"; fi
  done
  if [ "$(cat "$applied" 2>/dev/null)" != "$settings" ]; then
    printf '%s\n' "$settings" >"$prefix/vorn-settings.new"
    wine regedit /S "$(vorn_wine_path "$prefix/vorn-settings.new")" >/dev/null 2>&1
    wineserver -w
    mv "$prefix/vorn-settings.new" "$applied"
  fi
  mkdir -p "$prefix/drive_e"
}

# A Unix path as Wine's programs name it (Z: is the Unix root).
vorn_wine_path() {
  local path=$1
  printf 'Z:%s\n' "${path//\//\\}"
}

# Maps E: of the current prefix to IMAGE (its sectors) and the folder
# drive_e (its files), as Wine does for a removable drive.
vorn_wine_map_card() {
  ln -sfn ../drive_e "$WINEPREFIX/dosdevices/e:"
  ln -sfn "$1" "$WINEPREFIX/dosdevices/e::"
}

vorn_wine_unmap_card() {
  rm -f "$WINEPREFIX/dosdevices/e:" "$WINEPREFIX/dosdevices/e::"
}
