#!/usr/bin/env bash
# First makes a card: builds vorninst for Linux and runs a whole
# two-partition New Install, scripted, on a demo card, then shows what
# sfdisk, fsck.fat and mdir say of it, and a screenshot of the Linux window
# on that card. Then builds vorninst.exe and starts it
# under Wine, on a demo card with a demo add-on file set and a demo
# format.com. Without a display it runs in Xvfb, saves screenshots of the
# window and prints where.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

usage() {
  cat <<EOF
Usage: scripts/run.sh [--linux-only | --windows-only] [--no-demo] [--dpi N] [--help]

First it makes a card with the program on Linux: it builds vorninst
(build/release) and runs a whole two-partition New Install, scripted, on a demo
card, an 8 GB sparse image (build/run/linux/card.img) attached to a loop
device when it runs as root (else the image itself), with a demo add-on file
set beside it (build/run/linux/addon). It prints every box as the program
shows it, then what sfdisk -d, fsck.fat -n and mdir (both partitions) say of
the finished card, and where the image lies. Then it opens the Linux window,
vorninst-window, on that card in an Xvfb of its own and saves a screenshot of
it, with the card inspected, to build/screenshot-linux.png (a blank one is a
failure).

Then it builds vorninst.exe and starts it under Wine, in a Wine prefix of its
own (build/run/prefix). By default it runs on a demo card: E: is a removable
drive holding a small FAT image with a DCIM folder and the boot mark, a demo
add-on file set lies beside the program (build/run/program), and a demo
format.com, the demo's stand-in for Windows' own, formats the card's image
with mkfs.fat. With a display the window opens there; without one it runs
in Xvfb, saves a screenshot of the window as it first appears to
build/screenshot.png and one after the first drive scan to
build/screenshot-running.png, and ends; a screenshot all of one colour is a
failure. It prints where the demo card's two faces lie: sector writes
through \\\\.\\E: land in the image build/run/card.img, files copied through
E:\ in the prefix's folder build/run/prefix/drive_e. One run at a time in a
checkout.
Installs missing Debian packages with apt-get first (log: build/apt.log).

  --linux-only    only the card made on Linux
  --windows-only  only the Windows program under Wine
  --no-demo       (Windows) no card, no add-on files beside the program, no
                  format.com
  --dpi N         (Windows) the prefix's screen DPI (default 96; Windows'
                  150 % is 144)
  --help          print this and do nothing else
EOF
}

linux=true
windows=true
demo=true
dpi=96
while [ $# -gt 0 ]; do
  case "$1" in
    --linux-only) windows=false ;;
    --windows-only) linux=false ;;
    --no-demo) demo=false ;;
    --dpi)
      [ $# -ge 2 ] || { echo "run.sh: --dpi needs a number" >&2; exit 2; }
      dpi=$2
      shift
      ;;
    --dpi=*) dpi=${1#--dpi=} ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
if ! $linux && ! $windows; then
  echo "run.sh: --linux-only and --windows-only exclude each other" >&2
  exit 2
fi
# Windows offers 96 to 480 DPI (100 % to 500 %).
if ! [[ "$dpi" =~ ^[0-9]+$ ]] || [ "$dpi" -lt 96 ] || [ "$dpi" -gt 480 ]; then
  echo "run.sh: --dpi takes a number from 96 to 480, not $dpi" >&2
  exit 2
fi

vorn_one_at_a_time run.sh

# Says in its contents that it is no part of the add-on.
demo_file() {
  mkdir -p "$(dirname "$1")"
  printf 'VORN Installer demo file %s: not the VORN add-on, only a stand-in that\nscripts/run.sh made for a trial run.\n' \
    "$(basename "$1")" >"$1"
}

# The add-on's file set, as demo files, in the folder given.
demo_add_on() {
  local file
  for file in DISKBOOT.BIN PS.FIR LYRE/LYRE.TXT DCIM/100VORND/DEMO.TXT LYRE.CFG.L LYRE.CFG.R; do
    demo_file "$1/$file"
  done
}

# fsck.fat -n on the partition of the image from byte offset OFFSET, SIZE
# bytes long: through a read-only loop device over its bytes, or a copy of
# them where there is none. Each command is printed, so that the check can
# be repeated by hand.
check_partition() {
  local image=$1 offset=$2 size=$3
  if [ "$(id -u)" -eq 0 ] && vorn_attach_loop "$image" -r -o "$offset" --sizelimit "$size" 2>/dev/null; then
    echo "\$ losetup -f --show -r -o $offset --sizelimit $size $image"
    echo "$VORN_LOOP"
    echo "\$ fsck.fat -n $VORN_LOOP"
    fsck.fat -n "$VORN_LOOP"
    vorn_detach_loops
    return
  fi
  echo "\$ dd if=$image of=$image.part bs=1M iflag=skip_bytes,count_bytes skip=$offset count=$size conv=sparse"
  dd if="$image" of="$image.part" bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$size" \
    conv=sparse status=none
  echo "\$ fsck.fat -n $image.part"
  fsck.fat -n "$image.part"
  rm -f "$image.part"
}

# The card made on Linux: New Install on an 8 GB sparse image, then what
# tools no one here wrote say of it.
make_linux_card() {
  local dir="$VORN_BUILD/run/linux"
  local image="$dir/card.img" card start size
  vorn_install "${VORN_NATIVE_PACKAGES[@]}"
  [ -x "$VORN_LINUX_BUILD/vorninst" ] ||
    echo "Building vorninst in $VORN_LINUX_BUILD (the first time only: a minute or two)"
  vorn_build_linux >/dev/null
  rm -rf "$dir"
  mkdir -p "$dir"
  demo_add_on "$dir/addon"
  truncate -s 8G "$image"
  card=$image
  if [ "$(id -u)" -eq 0 ] && vorn_attach_loop "$image" 2>/dev/null; then
    card=$VORN_LOOP
    echo "The demo card: $image, an 8 GB sparse image, on the loop device $card"
  else
    echo "The demo card: $image, an 8 GB sparse image, used as it is (a loop device needs root)"
  fi
  echo "The demo add-on: $dir/addon"
  local command=("$VORN_LINUX_BUILD/vorninst" --card "$card" --addon "$dir/addon"
                 new-install --camera left --layout two --quick --yes)
  echo "\$ vorninst ${command[*]:1}"
  "${command[@]}" </dev/null
  vorn_detach_loops
  echo
  echo "\$ sfdisk -d $image"
  sfdisk -d "$image"
  while read -r start size; do
    echo
    echo "The partition from sector $start, $size sectors (byte $((start * 512))):"
    check_partition "$image" $((start * 512)) $((size * 512))
    echo "\$ mdir -/ -i $image@@$((start * 512)) ::"
    MTOOLS_SKIP_CHECK=1 mdir -/ -i "$image@@$((start * 512))" ::
  done < <(sfdisk -d "$image" | sed -n 's/.*start= *\([0-9]*\), size= *\([0-9]*\).*/\1 \2/p')
  echo
  echo "The finished card: $image (sparse: $(du -h "$image" | cut -f1) on disk)."
}

# The Linux window (vorninst-window) on the finished demo card, in an Xvfb of
# its own: a screenshot once the card is inspected. As root it starts its
# engine directly; as another user, on the image, pkexec's place is taken by
# env, since no password is asked for an image the user owns here.
linux_window_shot() {
  local dir="$VORN_BUILD/run/linux" shot="$VORN_BUILD/screenshot-linux.png"
  local image="$dir/card.img" card taken window pid found=false
  vorn_install "${VORN_WINDOW_PACKAGES[@]}" "${VORN_SCREENSHOT_PACKAGES[@]}"
  vorn_build_linux --target vorninst-window >/dev/null
  card=$image
  if [ "$(id -u)" -eq 0 ] && vorn_attach_loop "$image" 2>/dev/null; then card=$VORN_LOOP; fi
  vorn_xvfb 800x600 || return 1
  local display=$VORN_XVFB_DISPLAY
  unset VORN_XVFB_DISPLAY  # the Windows part decides on its own display
  taken=$(mktemp --suffix=.png)
  VORN_TEMP_PATHS+=("$taken")
  local pkexec=()
  [ "$(id -u)" -eq 0 ] || pkexec=(env VORN_PKEXEC=/usr/bin/env)
  DISPLAY=$display "${pkexec[@]}" "$VORN_RELEASE_BUILD/vorninst-window" --card "$card" \
    --addon "$dir/addon" >"$dir/window.log" 2>&1 &
  pid=$!
  VORN_OWN_PIDS+=("$pid")
  for _ in $(seq 200); do
    window=$(DISPLAY=$display xdotool search --onlyvisible --name 'VORN Installer' 2>/dev/null | head -1 || true)
    if [ -n "$window" ]; then found=true; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! $found; then
    echo "The Linux window did not appear ($dir/window.log):" >&2
    tail -5 "$dir/window.log" >&2
    return 1
  fi
  # The first scan and the inspection come 500 ms after the window opens.
  sleep 3
  DISPLAY=$display import -window "$window" "$taken"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  vorn_detach_loops
  if [ "$(convert "$taken" -format '%k' info:)" -le 1 ]; then
    echo "The Linux window's screenshot is blank (all one colour): it did not draw; $shot is left as it was." >&2
    return 1
  fi
  mv "$taken" "$shot"
  chmod 644 "$shot"
  echo "The Linux window on the demo card ($card): $shot"
  echo "To open it yourself: $VORN_RELEASE_BUILD/vorninst-window --card $image --addon $dir/addon"
}

if $linux; then
  make_linux_card
  echo
  linux_window_shot
fi
$windows || exit 0
echo

# Pictures of an earlier run stay until this one has good ones.
shot="$VORN_BUILD/screenshot.png"
running="$VORN_BUILD/screenshot-running.png"

vorn_install "${VORN_WIN_PACKAGES[@]}" "${VORN_SCREENSHOT_PACKAGES[@]}" dosfstools mtools
[ -f "$VORN_WIN_BUILD/vorninst.exe" ] ||
  echo "Building vorninst.exe with mingw-w64 in $VORN_WIN_BUILD (the first time only: a few minutes)"
vorn_build_windows --target vorninst --target vorn_demo_format
# The desktop of the screenshots, at 96 DPI, grows with the DPI.
desktop_width=$((520 * dpi / 96))
desktop_height=$((560 * dpi / 96))
desktop="${desktop_width}x${desktop_height}"
if [ -z "${DISPLAY:-}" ]; then
  vorn_xvfb "$((desktop_width > 1024 ? desktop_width : 1024))x$((desktop_height > 768 ? desktop_height : 768))"
  export DISPLAY="$VORN_XVFB_DISPLAY"
fi

run_dir="$VORN_BUILD/run"
mkdir -p "$run_dir"
vorn_wine_prefix "$run_dir/prefix" \
  '[HKEY_CURRENT_USER\Control Panel\Desktop]' "\"LogPixels\"=dword:$(printf '%08x' "$dpi")" ''
vorn_wine_stop "$run_dir/prefix"  # one a killed run may have left
system_format="$WINEPREFIX/drive_c/windows/system32/format.com"


# A bare FAT volume with an image folder and the boot mark at byte 64 of its
# boot sector. FAT16, where byte 64 lies in the boot code; on FAT32 it would
# overwrite a field of the volume's parameters.
make_demo_card() {
  local image=$1 files=$2 photo=$3
  rm -f "$image" "$image".format-*  # and what the demo format.com left
  mkfs.fat -F 16 -n "VORN DEMO" -C "$image" 32768 >/dev/null
  demo_file "$photo"
  MTOOLS_SKIP_CHECK=1 mmd -i "$image" ::DCIM ::DCIM/100VORND
  MTOOLS_SKIP_CHECK=1 mcopy -i "$image" "$photo" ::DCIM/100VORND/
  printf 'BOOTDISK' | dd of="$image" bs=1 seek=64 conv=notrunc status=none
  # Wine shows a drive's files from a folder, not from its image.
  rm -rf "$files"
  mkdir -p "$files/DCIM/100VORND"
  cp "$photo" "$files/DCIM/100VORND/"
}

program_dir="$run_dir/program"
rm -rf "$program_dir"
if $demo; then
  mkdir -p "$program_dir"
  cp "$VORN_WIN_BUILD/vorninst.exe" "$program_dir/"
  demo_add_on "$program_dir"
  photo_dir=$(mktemp -d)
  VORN_TEMP_PATHS+=("$photo_dir")
  rm -f "$run_dir/DEMO.TXT"  # where earlier runs left the demo photo
  make_demo_card "$run_dir/card.img" "$WINEPREFIX/drive_e" "$photo_dir/DEMO.TXT"
  vorn_wine_map_card "$run_dir/card.img"
  # Wine has no format.com: the demo's formats the card's image (see
  # scripts/demo/format_com.cpp), told here which drive and image that is.
  cp "$VORN_WIN_BUILD/demo/format.com" "$system_format"
  export VORN_DEMO_CARD_DRIVE=E: VORN_DEMO_CARD_IMAGE="$run_dir/card.img"
  VORN_DEMO_FORMAT_HELPER=$(vorn_wine_path "$VORN_ROOT/scripts/demo_format.sh")
  export VORN_DEMO_FORMAT_HELPER
  exe="$program_dir/vorninst.exe"
else
  vorn_wine_unmap_card
  rm -f "$system_format"
  exe="$VORN_WIN_BUILD/vorninst.exe"
fi

# Wine shows the demo card twice: as sectors (the image) and as files (a
# folder); a command's work lands in one or the other.
where_to_look() {
  $demo || return 0
  echo "Demo card as sectors, through \\\\.\\E: (the script flag, a format): $run_dir/card.img" \
       "(mdir -i $run_dir/card.img ::)"
  echo "Demo card as files, through E:\\ (what is copied to or from it): $WINEPREFIX/drive_e"
}

if [ -z "${VORN_XVFB_DISPLAY:-}" ]; then
  where_to_look
  status=0
  wine "$exe" || status=$?
  exit "$status"
fi

frames=$(mktemp -d)
VORN_TEMP_PATHS+=("$frames")
# A Wine desktop of its own, so that the window gets its frame and caption.
wine explorer "/desktop=vorninst,$desktop" "$exe" >/dev/null 2>&1 &

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
convert "$best" -crop "$desktop+0+0" +repage "$frames/first.png"
sleep 2
import -window root -crop "$desktop+0+0" +repage "$frames/running.png"

# A picture of one colour shows no window: the run failed, whatever Wine said,
# and the picture does not replace the one an earlier run left.
blank=false
for picture in first:"$shot" running:"$running"; do
  taken="$frames/${picture%%:*}.png"
  if [ "$(convert "$taken" -format '%k' info:)" -le 1 ]; then
    echo "The screenshot for ${picture#*:} is blank (all one colour): the window did not draw;" \
         "the file is left as it was." >&2
    blank=true
  else
    mv "$taken" "${picture#*:}"
  fi
done
$blank && exit 1
echo "Screenshot: $shot"
echo "After the first drive scan: $running"
where_to_look
