#!/usr/bin/env bash
# The Debian package as users get it: installed with dpkg into a scratch root
# (its dependencies are the machine's own), then its program, manual page and
# completion tried from there.
#   installed_package.sh CASE DEB
set -uo pipefail
check=$1 deb=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -f "$deb" ] || fail "no package $deb: scripts/package.sh --deb-only makes it"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"  # man reads the page as the user man
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/home"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" >/dev/null 2>&1 || fail "dpkg could not install $deb"
program=$root/usr/bin/vorninst
app=net.vorninst.Installer
export HOME=$root/home XDG_CONFIG_HOME=
commands=$("$program" --help | awk '/^[^ ].*:$/ { on = /^Commands/; next } on && /^  [a-z]/ { print $1 }')
[ "$(wc -l <<<"$commands")" -ge 12 ] || fail "--help lists too few commands: $commands"

# A card (an image) and an add-on folder; a stray boot file beside the
# installed program, which it must not take for the add-on.
card=$root/home/card.img addon=$root/home/addon
truncate -s 64M "$card" && mkfs.fat -F 16 "$card" >/dev/null
mkdir -p "$addon/LYRE" "$addon/DCIM"
for file in DISKBOOT.BIN PS.FIR LYRE.CFG.L LYRE.CFG.R; do echo "$file" >"$addon/$file"; done
echo stray >"$root/usr/bin/DISKBOOT.BIN"

# PROGRAM | ARGUMENTS | exit status | what its output holds. A copy of the
# program beside the add-on takes it, as the one in the build tree does.
cp "$program" "$addon/vorninst"
runs=(
  "$program|--help|0|Usage: vorninst"
  "$program|--version|0|vorninst Version $(dpkg-deb -f "$deb" Version)"
  "$program|--card $card copy-addon|1|No add-on folder is known: name the folder of DISKBOOT.BIN"
  "$addon/vorninst|--card $card copy-addon --yes|0|copy-addon reached its end"
  "$program|--card $card --addon $addon copy-addon --yes|0|copy-addon reached its end"
  "$program|--card $card copy-addon --yes|0|copy-addon reached its end"
)
# COMMAND LINE BEING COMPLETED | what the completion offers
completions=(
  "vorninst |$(tr '\n' ' ' <<<"$commands")"
  "vorninst new-install --camera |left right "
  "vorninst --card $card --drive |$("$program" --card "$card" list | grep -o '^[A-Z]:' | tr '\n' ' ')"
  "vorninst format --q|--quick "
  "vorninst --card $root/home/car|$card "
)

case $check in
  Files)
    icons=$(for size in 16 32 48 64 128 256; do echo "/usr/share/icons/hicolor/${size}x$size/apps/vorninst.png"; done)
    expected=$(sort <<EOF
/usr/bin/vorninst
/usr/bin/vorninst-window
/usr/share/applications/$app.desktop
/usr/share/bash-completion/completions/vorninst
/usr/share/doc/vorninst/changelog.gz
/usr/share/doc/vorninst/copyright
/usr/share/man/man1/vorninst-window.1.gz
/usr/share/man/man1/vorninst.1.gz
/usr/share/metainfo/$app.metainfo.xml
/usr/share/polkit-1/actions/$app.policy
$icons
EOF
)
    files=$(dpkg --root="$root" -L vorninst | while read -r file; do [ -d "$root$file" ] || echo "$file"; done | sort)
    [ "$files" = "$expected" ] || fail "the package holds: $files"
    for needed in libmount1 dosfstools mtools pkexec libqt6widgets6; do
      dpkg-deb -f "$deb" Depends | grep -qw "$needed" || fail "no dependency on $needed"
    done ;;
  Program)
    for run in "${runs[@]}"; do
      IFS='|' read -r run_program arguments status text <<<"$run"
      # shellcheck disable=SC2086  # the arguments are words
      output=$("$run_program" $arguments 2>&1 </dev/null)
      got=$?
      [ "$got" = "$status" ] && grep -qF -- "$text" <<<"$output" ||
        fail "$run_program $arguments: status $got, not $status, or no \"$text\" in: $output"
    done ;;
  ManPage)
    page=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/vorninst.1.gz" 2>"$root/warnings")
    [ ! -s "$root/warnings" ] || fail "man warns: $(cat "$root/warnings")"
    for heading in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" ROOT FILES EXAMPLES $commands; do
      grep -q "^ *$heading\b" <<<"$page" || fail "the page has no \"$heading\": $page"
    done ;;
  Completion)
    for run in "${completions[@]}"; do
      IFS='|' read -r line offered <<<"$run"
      # Loaded as bash-completion loads it, from where it looks.
      got=$(XDG_DATA_DIRS="$root/usr/share" PATH="$root/usr/bin:$PATH" bash -c '
        source /usr/share/bash-completion/bash_completion
        __load_completion vorninst || exit 1
        read -ra COMP_WORDS <<<"$1"; [[ $1 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$1 COMP_POINT=${#1}
        $(complete -p vorninst | sed "s/.*-F \([^ ]*\).*/\1/") vorninst "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        printf "%s " "${COMPREPLY[@]}"' - "$line")
      [ "$got" = "$offered" ] || fail "completing \"$line\" offers \"$got\", not \"$offered\""
    done ;;
  Desktop)
    desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop-file-validate refuses it"
    grep -qx "Exec=vorninst-window" "$root/usr/share/applications/$app.desktop" || fail "the menu entry starts no window"
    appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" || fail "appstreamcli refuses it"
    launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$root/usr/share/metainfo/$app.metainfo.xml")
    [ -f "$root/usr/share/applications/$launchable" ] || fail "the metainfo launches \"$launchable\", which is not there"
    for size in 16 32 48 64 128 256; do
      file "$root/usr/share/icons/hicolor/${size}x$size/apps/vorninst.png" | grep -q "PNG image data, $size x $size" ||
        fail "no $size px icon"
    done
    # The engine alone is root, asked once a session, and no window as root.
    python3 - "$root/usr/share/polkit-1/actions/$app.policy" "$root" <<'PY' || fail "the polkit action is not as it must be"
import os, sys, xml.etree.ElementTree as tree
actions = tree.parse(sys.argv[1]).getroot().findall("action")
assert len(actions) == 1, "one action"
action = actions[0]
assert action.findtext("defaults/allow_active") == "auth_admin_keep", "auth_admin_keep for an active session"
notes = {a.get("key"): a.text for a in action.findall("annotate")}
assert "org.freedesktop.policykit.exec.allow_gui" not in notes, "no allow_gui"
path = notes.get("org.freedesktop.policykit.exec.path")
assert path == "/usr/bin/vorninst" and os.access(sys.argv[2] + path, os.X_OK), "exec.path names the engine"
PY
    page=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/vorninst-window.1.gz" 2>"$root/warnings")
    [ ! -s "$root/warnings" ] || fail "man warns on vorninst-window(1): $(cat "$root/warnings")"
    grep -q "pkexec" <<<"$page" || fail "vorninst-window(1) does not say how the engine starts" ;;
  Lintian)
    lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings" ;;
  *) fail "no check $check" ;;
esac
