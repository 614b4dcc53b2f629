#!/usr/bin/env bash
# Recorded runs through the full setup dialog, full screen 640 x 480, one
# frame every 0.04 s of demo time:
# - a BMP sequence twice headless (and once under Xvfb when it is there):
#   the chosen frames are the same bytes in every run, apart from the fps
#   digits, which count wall-clock frames, and the hall's video screen,
#   which plays in wall-clock time;
# - the chosen frames show what the running order predicts;
# - an AVI through the first listed compressor: frame count, size, rate.
#   capture.sh FULL_SETUP_PLAYER
set -euo pipefail
source "$(dirname "$0")/xvfb.sh"
player=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "capture: $*"; exit 1; }

# Frame n shows demo time n x 0.04 s. 0: the fade-in from black starts;
# 176: the flash at its peak (opaque white); 187: the last wireframe frame
# (the flash nearly gone), 189: solid again; 200: the intro alone; 220: the
# cross-fade to the hall half-way; 240: the hall alone; 600: the particle
# scene.
frames=(0000 0176 0187 0189 0200 0220 0240 0600)
last=0876

# Boxes at 640 x 480: the overlays' fps label and digits, logo, URL; the
# hall's video screen as the first camera sees it.
masked() { # IMAGE COLOUR [ARGS...]: the image with the boxes painted over
  convert "$1" -fill "$2" -draw "rectangle 0,0 190,52" -draw "rectangle 555,5 635,45" \
    -draw "rectangle 480,460 640,480" -draw "rectangle 60,225 200,335" "${@:3}"
}

record() { # DIR [xvfb]: records a BMP sequence into DIR, keeps the chosen frames
  local dir=$1 status=0
  mkdir -p "$dir"
  local script="uncheck 104; select 108 0; select 129 1; uncheck 1074; press 100; text 1001 $dir/f; press 1"
  if [ "${2:-}" = xvfb ]; then
    (cd "$dir" && XDG_CONFIG_HOME="$dir/cfg" QUILLON_DIALOG="$script" \
      with_xvfb 640x480x24 env -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$player" \
      >"$dir/log.txt" 2>&1) || status=$?
  else
    (cd "$dir" && XDG_CONFIG_HOME="$dir/cfg" QUILLON_DIALOG="$script" \
      env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$player" >"$dir/log.txt" 2>&1) || status=$?
  fi
  [ "$status" -eq 0 ] || { cat "$dir/log.txt"; fail "$dir: status $status"; }
  [ -f "$dir/f$last.bmp" ] && [ ! -f "$dir/f$((10#$last + 1)).bmp" ] || fail "$dir: not $last frames"
  for f in "${frames[@]}"; do mv "$dir/f$f.bmp" "$dir/keep$f.bmp"; done
  rm -f "$dir"/f[0-9]*.bmp
}

hashes() { # DIR: one line per chosen frame
  for f in "${frames[@]}"; do
    echo "$f $(masked "$1/keep$f.bmp" black rgb:- | md5sum | cut -c1-32)"
  done
}

record "$work/a"
record "$work/b"
diff <(hashes "$work/a") <(hashes "$work/b") || fail "two headless runs differ"
if command -v Xvfb >/dev/null; then
  record "$work/x" xvfb
  diff <(hashes "$work/a") <(hashes "$work/x") || fail "headless and Xvfb runs differ"
fi

a=$work/a
for f in "${frames[@]}"; do
  [ "$(identify -format '%w x %h' "$a/keep$f.bmp")" = "640 x 480" ] || fail "frame $f unreadable"
done
value() { convert "$@" -format '%[fx:int(255*mean.r+0.5)]' info:; }
pixel() { # FRAME X Y: the red value there
  value "$a/keep$1.bmp" -crop "1x1+$2+$3"
}
[ "$(masked "$a/keep0000.bmp" black -format '%[max]' info:)" = 0 ] || fail "frame 0 is not black"
[ "$(masked "$a/keep0176.bmp" white -format '%[min]' info:)" = 65535 ] || fail "flash peak not white"

# Wireframe: lines one pixel wide, which an opening with a 3 x 3 square
# removes; solid faces survive it.
thin() {
  masked "$a/keep$1.bmp" black -colorspace gray \( +clone -morphology Open Square:1 \) \
    -compose difference -composite -threshold 10% -format '%[fx:int(mean*w*h)]' info:
}
wire=$(thin 0187)
solid=$(thin 0189)
[ "$wire" -gt 1000 ] && [ "$solid" -lt 300 ] || fail "wireframe: $wire line pixels, solid frame $solid"

# Cross-fade: where the intro shows its background and the hall its dome,
# the half-way frame lies between the two.
for p in "300 375" "330 372" "320 360"; do
  read -r x y <<<"$p"
  before=$(pixel 0200 "$x" "$y")
  during=$(pixel 0220 "$x" "$y")
  after=$(pixel 0240 "$x" "$y")
  [ "$during" -ge $((before + 10)) ] && [ "$during" -le $((after - 10)) ] ||
    fail "cross-fade at $x,$y: $before, $during, $after"
done

# The particle scene's sprites and smoke show in the middle of the screen.
lit=$(convert "$a/keep0600.bmp" -crop 640x400+0+50 -colorspace gray -threshold 8% -format '%[fx:int(mean*w*h)]' info:)
[ "$lit" -gt 500 ] || fail "particle scene: $lit lit pixels"

# AVI through the first compressor of the list.
v=$work/v
mkdir -p "$v"
(cd "$v" && XDG_CONFIG_HOME="$v/cfg" \
  QUILLON_DIALOG="uncheck 104; select 108 0; select 129 2; press 100; save $v/vid.avi" \
  env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$player" >"$v/log.txt" 2>&1) ||
  { cat "$v/log.txt"; fail "AVI run failed"; }
probe=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames,width,height,r_frame_rate -of csv=p=0 "$v/vid.avi")
[ "$probe" = "640,480,25/1,$((10#$last + 1))" ] || fail "AVI: $probe"
echo "capture: $((10#$last + 1)) frames, identical runs, AVI $probe"
