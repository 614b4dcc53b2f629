#!/usr/bin/env bash
# Recorded runs through the full setup dialog, full screen 640 x 480, one
# frame every 0.04 s of demo time:
# - a BMP sequence twice headless on the fixed-function path (and once under
#   Xvfb when it is there), once with shaders: the chosen frames are the
#   same bytes in every fixed-function run, apart from the fps digits,
#   which count wall-clock frames, and the hall's video screen, which plays
#   in wall-clock time;
# - the chosen frames of both paths show what the running order predicts;
# - every presented frame of the shader run, the loading screens too;
# - an AVI through the first listed compressor: frame count, size, rate.
#   capture.sh FULL_SETUP_PLAYER
set -euo pipefail
source "$(dirname "$0")/xvfb.sh"
player=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "capture: $*"; exit 1; }

# Frame n shows demo time n x 0.04 s. 0: the fade-in from black starts;
# 75: the intro's crate; 176: the flash at its peak (opaque white); 187: the
# last wireframe frame (the flash nearly gone), 189: solid again; 200: the
# intro alone; 220: the cross-fade to the hall half-way; 240: the hall
# alone; 262: the hall from "Wide", the intro on the monitor; 450: the hall
# from "Top"; 600: the particle scene in front of its lit stage; 800: the
# outro's crate under the title.
frames=(0000 0075 0176 0187 0189 0200 0220 0240 0262 0450 0600 0800)
last=0876

# Boxes at 640 x 480: the overlays' fps label and digits, logo, URL; the
# hall's video screen as the first camera sees it.
masked() { # IMAGE COLOUR [ARGS...]: the image with the boxes painted over
  convert "$1" -fill "$2" -draw "rectangle 0,0 190,52" -draw "rectangle 555,5 635,45" \
    -draw "rectangle 480,460 640,480" -draw "rectangle 148,165 250,250" "${@:3}"
}

record() { # DIR [xvfb|shaders]: records a BMP sequence into DIR, keeps the chosen frames
  local dir=$1 status=0 paths="" screens=()
  mkdir -p "$dir"
  if [ "${2:-}" = shaders ]; then # every present kept
    paths="uncheck 1111; "
    mkdir -p "$dir/screens"
    screens=(QUILLON_SCREEN_DIR="$dir/screens")
  fi
  local script="uncheck 104; select 108 0; select 129 1; uncheck 1074; ${paths}press 100; text 1001 $dir/f; press 1"
  if [ "${2:-}" = xvfb ]; then
    (cd "$dir" && XDG_CONFIG_HOME="$dir/cfg" QUILLON_DIALOG="$script" \
      with_xvfb 640x480x24 env -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$player" \
      >"$dir/log.txt" 2>&1) || status=$?
  else
    (cd "$dir" && XDG_CONFIG_HOME="$dir/cfg" QUILLON_DIALOG="$script" \
      env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "${screens[@]}" "$player" >"$dir/log.txt" 2>&1) ||
      status=$?
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

record "$work/s" shaders

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
# removes; solid faces survive it, all but the fine grain the intro's crate
# shows on its sides.
thin() {
  masked "$a/keep$1.bmp" black -colorspace gray \( +clone -morphology Open Square:1 \) \
    -compose difference -composite -threshold 10% -format '%[fx:int(mean*w*h)]' info:
}
wire=$(thin 0187)
solid=$(thin 0189)
[ "$wire" -gt 2000 ] && [ "$solid" -lt 1000 ] || fail "wireframe: $wire line pixels, solid frame $solid"

# Cross-fade: where the intro shows its background and the hall its floor,
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

# What both paths show. Boxes are WxH+X+Y at 640 x 480.
mean() { # FRAME-FILE BOX: mean red, green and blue, 0 to 255
  convert "$1" -crop "$2" +repage -format '%[fx:int(255*mean.r)] %[fx:int(255*mean.g)] %[fx:int(255*mean.b)]' info:
}
count() { # FRAME-FILE BOX FX: the pixels of the box where FX holds
  convert "$1" -crop "$2" +repage -fx "$3 ? 1 : 0" -format '%[fx:int(mean*w*h+0.5)]' info:
}
for dir in "$work/a" "$work/s"; do
  k() { echo "$dir/keep$1.bmp"; }
  mode=fixed-function
  [ "$dir" = "$work/s" ] && mode=shaders
  # The hall lit from "Wide": most of the frame above black, the floor and
  # the side and far walls grey.
  lit=$(masked "$(k 0262)" black -colorspace gray -threshold 12% -format '%[fx:int(100*mean)]' info:)
  [ "$lit" -ge 50 ] || fail "$mode: hall $lit% lit"
  for part in "floor 640x80+0+390" "left wall 35x200+5+150" "far wall 200x60+40+140"; do
    read -r r _ _ <<<"$(mean "$(k 0262)" "${part##* }")"
    [ "$r" -ge 50 ] || fail "$mode: hall ${part% *} dark ($r)"
  done
  # Each hall object: the ball's cube, the ceiling (one smooth grey where
  # the far wall behind the ball is sandstone courses) above the floor it
  # reflects below, the chrome sphere's white,
  # the glass cube's green panes, the monitor showing the intro's night sky
  # (not yet before the render target), the panel's night-blue title card;
  # the pillar only from "Top", the anti-portal hiding it from "Wide".
  read -r r g b <<<"$(mean "$(k 0262)" 40x20+190+300)"
  sd=$(convert "$(k 0262)" -crop 40x20+190+300 +repage -colorspace gray -format '%[fx:int(1000*standard_deviation)]' info:)
  [ "$sd" -lt 40 ] && [ "$r" -ge 25 ] && [ $((r > b ? r - b : b - r)) -le 25 ] && [ $((r > g ? r - g : g - r)) -le 25 ] ||
    fail "$mode: no ball ($r $g $b, deviation $sd)"
  [ "$(count "$(k 0262)" 60x30+170+345 'max(max(r,g),b)-min(min(r,g),b)<0.1 && max(max(r,g),b)>0.3')" -gt 800 ] ||
    fail "$mode: the ball reflects no floor"
  read -r r g b <<<"$(mean "$(k 0262)" 30x30+345+315)"
  [ "$b" -ge 200 ] || fail "$mode: no chrome sphere ($r $g $b)"
  # The mirror on the far wall shows the ball's red face beside it.
  [ "$(count "$(k 0262)" 15x40+265+275 'r-g>0.2')" -gt 300 ] ||
    fail "$mode: the mirror reflects no ball"
  read -r r g b <<<"$(mean "$(k 0262)" 30x50+455+335)"
  [ "$g" -ge $((r + 30)) ] || fail "$mode: no glass cube ($r $g $b)"
  [ "$(count "$(k 0262)" 70x50+465+255 'b-r>0.04')" -gt 1000 ] || fail "$mode: monitor without the intro"
  [ "$(count "$(k 0240)" 70x50+465+255 'b-r>0.04')" -lt 50 ] || fail "$mode: monitor shows the intro early"
  read -r r g b <<<"$(mean "$(k 0262)" 60x40+440+180)"
  [ "$b" -ge $((r + 20)) ] || fail "$mode: no panel ($r $g $b)"
  read -r r g b <<<"$(mean "$(k 0450)" 30x30+125+85)"
  [ "$r" -ge $((b + 10)) ] && [ "$r" -ge 80 ] || fail "$mode: no pillar from above ($r $g $b)"
  # From Wide the sandstone wall shows there, far yellower than the pillar.
  read -r r g b <<<"$(mean "$(k 0262)" 20x120+90+200)"
  [ $((100 * b)) -le $((75 * r)) ] || fail "$mode: the pillar shows from Wide ($r $g $b)"
  # Orange sparks beside a grey plume of smoke: the plume lightens the wall
  # behind it in every channel, against the wall further left.
  [ "$(count "$(k 0600)" 160x120+350+260 'r-b>0.25')" -gt 800 ] || fail "$mode: no sparks"
  read -r r g b <<<"$(mean "$(k 0600)" 30x30+255+170)"
  read -r wr wg wb <<<"$(mean "$(k 0600)" 30x30+80+170)"
  [ "$r" -ge $((wr + 25)) ] && [ "$g" -ge $((wg + 25)) ] && [ "$b" -ge $((wb + 25)) ] ||
    fail "$mode: no smoke ($r $g $b over the wall's $wr $wg $wb)"
  # The crate in its own browns, in the intro and under the outro's title.
  for shot in "0075 80x60+220+350" "0800 80x60+280+400"; do
    read -r f box <<<"$shot"
    read -r r g b <<<"$(mean "$(k "$f")" "$box")"
    [ "$r" -ge 70 ] && [ "$r" -gt "$g" ] && [ "$g" -gt "$b" ] || fail "$mode: crate at $f ($r $g $b)"
    [ "$(count "$(k "$f")" "$box" 'b>r')" -lt 50 ] || fail "$mode: blue in the crate at $f"
  done
done

# The loading screens of the shader run (their progress bar at the left of
# rows 0.91 H to 0.935 H, the picture above it): none mostly white. Past
# the start-up (a blank present, the loading screens, then the fade in from
# black) no picture flashes up between black presents for less than half a
# second of recorded frames: a load that shows its loading screen for a
# present or two goes behind a picture, not between a fade out and a fade
# in.
loading=0 runs=0 shown=0 afterDark=0 lastDark=1
for f in "$work/s/screens"/*.bmp; do
  read -r bar above dark <<<"$(masked "$f" black \
    -format '%[fx:int(255*p{2,441}.r+0.5)] %[fx:int(255*p{2,425}.r+0.5)] %[fx:mean<0.02]' info:)"
  if [ "$bar" = 96 ] && [ "$above" != 96 ]; then
    loading=$((loading + 1))
    white=$(convert "$f" -colorspace gray -threshold 90% -format '%[fx:int(100*mean)]' info:)
    [ "$white" -lt 50 ] || fail "loading screen $(basename "$f") $white% white"
  fi
  if [ "$dark" = 1 ]; then
    [ "$shown" -gt 0 ] && [ "$shown" -lt 12 ] && [ "$afterDark" = 1 ] && [ "$runs" -gt 1 ] &&
      fail "$shown presents before $(basename "$f") flash up between black ones"
    shown=0
  else
    [ "$shown" -gt 0 ] || { runs=$((runs + 1)) afterDark=$lastDark; }
    shown=$((shown + 1))
  fi
  lastDark=$dark
done
[ "$loading" -gt 0 ] || fail "no loading screen presented"
rm -rf "$work/s/screens"

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
echo "capture: $((10#$last + 1)) frames, identical runs, both paths, $loading loading screens, AVI $probe"
