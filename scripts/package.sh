#!/usr/bin/env bash
# Makes the packages users install, into build/packages: the Debian package
# of vorninst and the .zip of vorninst.exe. Installs what it needs on a Debian
# machine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

usage() {
  cat <<EOF2
Usage: scripts/package.sh [--deb-only | --zip-only] [--help]

Makes into build/packages:
  vorninst_VERSION_ARCH.deb   vorninst and its window, their manual pages,
                              the desktop entry, icons and polkit action,
                              the bash completion,
                              optimised, without sanitizers, hardened as Debian
                              builds its packages (build/release)
  vorninst-VERSION-win64.zip  vorninst.exe and README.txt on where the
                              add-on's files go (build/win)
Installs missing Debian packages with apt-get first (log: build/apt.log).

  --deb-only   make only the Debian package
  --zip-only   make only the Windows .zip
  --help       print this and do nothing else
EOF2
}

deb=true zip=true
for arg in "$@"; do
  case "$arg" in
    --deb-only) zip=false ;;
    --zip-only) deb=false ;;
    -h | --help) usage; exit 0 ;;
    *) echo "package.sh: unknown option $arg" >&2; usage >&2; exit 2 ;;
  esac
done
if ! $deb && ! $zip; then echo "package.sh: --deb-only and --zip-only exclude each other" >&2; exit 2; fi

vorn_one_at_a_time package.sh
packages="$VORN_BUILD/packages"
# dpkg-shlibdeps, for the libraries the .deb depends on.
$deb && vorn_install "${VORN_NATIVE_PACKAGES[@]}" "${VORN_WINDOW_PACKAGES[@]}"
$zip && vorn_install "${VORN_WIN_PACKAGES[@]}"
mkdir -p "$packages"

# CPack installs what the build made, without building every test first.
if $deb; then
  vorn_configure_release
  rm -f "$packages"/vorninst_*.deb
  cmake --build "$VORN_PACKAGE_BUILD" -j"$(nproc)" --target vorninst vorninst-window vorn_man vorn_window_man \
    vorn_changelog
  (cd "$VORN_PACKAGE_BUILD" && cpack -G DEB -B "$packages")
fi
if $zip; then
  vorn_configure_windows -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
  rm -f "$packages"/vorninst-*-win64.zip
  vorn_build_windows --target vorninst
  (cd "$VORN_WIN_BUILD" && cpack -G ZIP -B "$packages")
fi
rm -rf "$packages/_CPack_Packages"
ls -l "$packages"
