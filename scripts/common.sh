# Shared by run.sh and test.sh: packages, builds and a display for Wine.

VORN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VORN_NATIVE_BUILD="$VORN_ROOT/build/native"
VORN_WIN_BUILD="$VORN_ROOT/build/win"

# Installs the Debian packages that are missing (apt-get update once, first).
vorn_install() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

VORN_WIN_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
                   googletest wine wine64 fonts-wine xvfb x11-apps xdotool imagemagick)
VORN_NATIVE_PACKAGES=(cmake make g++ googletest libgtest-dev dosfstools mtools fdisk)

vorn_build_windows() {
  cmake -S "$VORN_ROOT" -B "$VORN_WIN_BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$VORN_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$VORN_WIN_BUILD" -j"$(nproc)" "$@"
}

# A display for Wine: the user's, or a private Xvfb that ends with the script.
vorn_display() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local number=97
  while [ -e "/tmp/.X${number}-lock" ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  VORN_XVFB_PID=$!
  export DISPLAY=":$number"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
  trap 'kill $VORN_XVFB_PID 2>/dev/null || true' EXIT
}

# A Wine prefix of the project's own; no Mono or Gecko installers at start.
vorn_wine_prefix() {
  export WINEPREFIX="$1"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # Debian's Wine does not find its own fonts (Marlett draws the caption
  # buttons, Tahoma the captions); the prefix's font folder offers them.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d "$fonts" ]; then
    for font in /usr/share/wine/fonts/*.ttf; do
      [ -e "$font" ] && ln -sf "$font" "$fonts/"
    done
  fi
  return 0
}
