#!/usr/bin/env bash
# The player in a real window on a private X server, keys pressed with
# xdotool:
# - full screen through the shown start dialog (Start pressed with its
#   mnemonic), keys read through DirectInput;
# - windowed through the full setup dialog, keys read from window messages.
# Each time SPACE brings the user camera's red "Free-Flight Mode" into the
# top-left corner of a screenshot, and ESC ends the run with status 0.
#   window_keys.sh PLAYER FULL_SETUP_PLAYER
set -euo pipefail
if [ -z "${QUILLON_E2E_XSERVER:-}" ]; then
  source "$(dirname "$0")/xvfb.sh"
  command -v Xvfb >/dev/null || { echo "window_keys: needs Xvfb"; exit 77; }
  with_xvfb 1024x768x24 env QUILLON_E2E_XSERVER=1 bash "$0" "$@"
  exit
fi
player=$1
full_setup=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "window_keys: $*"; cat "$work/log.txt" 2>/dev/null; exit 1; }
export XDG_CONFIG_HOME=$work/cfg SDL_AUDIODRIVER=dummy
unset WAYLAND_DISPLAY QUILLON_HEADLESS QUILLON_DIALOG

# The output window's id once it is mapped. (xdotool cannot match the
# UTF-8 title that SDL sets; xwininfo can.)
output_window() {
  local info
  for _ in $(seq 300); do
    info=$(xwininfo -name "Quillon 3D Realtime Technology by Corvane" 2>/dev/null) || true
    if grep -q "Map State: IsViewable" <<<"$info"; then
      awk '/Window id:/ { print $4 }' <<<"$info"
      return
    fi
    sleep 0.1
  done
  fail "no output window"
}

red_pixels() { # SCREENSHOT: red pixels in the mode-name box (5, 5)-(133, 21)
  convert "$1" -crop 128x16+5+5 -fx '(r > 0.6 && g < 0.35 && b < 0.35)' -format '%[fx:int(mean*w*h)]' info:
}

logo_pixels() { # SCREENSHOT X: pixels of the logo's blue badge in (X, 10)-(X + 60, 40)
  convert "$1" -crop "60x30+$2+10" -fx '(b > 0.5 && r < 0.4)' -format '%[fx:int(mean*w*h)]' info:
}

# Presses SPACE once the demo runs, screenshots WINDOW (a window id, or
# root), presses ESC; the player must then end with status 0.
fly_and_quit() { # NAME PID OUTPUT_WINDOW SCREENSHOT_WINDOW LOGO_X
  local name=$1 pid=$2 focus=$3 window=$4 logo_x=$5 status=0 badge=0
  # Keys pressed while the content loads could arrive in one batch with
  # their release; wait for the first demo frame (the logo's badge drawn).
  for _ in $(seq 120); do
    import -window "$window" "$work/$name-before.png"
    badge=$(logo_pixels "$work/$name-before.png" "$logo_x")
    [ "$badge" -gt 900 ] && break
    kill -0 "$pid" 2>/dev/null || fail "$name: the player ended early"
    sleep 0.5
  done
  [ "$badge" -gt 900 ] || fail "$name: no demo frame within a minute"
  # No window manager gives the new window the focus; a person would click.
  xdotool windowfocus --sync "$focus"
  local before after=0
  before=$(red_pixels "$work/$name-before.png")
  # The input is read once a frame, and a key pressed and released within
  # one frame does not count: hold SPACE until the mode name shows.
  xdotool keydown space
  for _ in $(seq 60); do
    sleep 0.5
    import -window "$window" "$work/$name-after.png"
    after=$(red_pixels "$work/$name-after.png")
    [ "$after" -gt 40 ] && break
  done
  xdotool keyup space
  [ "$before" -lt 20 ] && [ "$after" -gt 40 ] || fail "$name: mode name not drawn ($before, then $after red pixels)"
  xdotool keydown Escape
  for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  xdotool keyup Escape
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "$name: ESC did not end the run"; }
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "$name: status $status"
  echo "window_keys: $name: $after red pixels after SPACE"
}

cd "$work"
"$player" >"$work/log.txt" 2>&1 &
pid=$!
dialog=$(timeout 60 xdotool search --sync --onlyvisible --name "Pel 2004" | head -1) || true
[ -n "$dialog" ] || fail "no start dialog within a minute"
sleep 1 # the toolkit takes keys once the dialog has settled
xdotool windowfocus --sync "$dialog"
xdotool key alt+s
window=$(output_window)
# The window may be mapped before it takes the screen's size; allow it a moment.
geometry() { xwininfo -id "$window" | awk '/Absolute|Width|Height/ { printf "%s ", $NF }'; }
for _ in $(seq 50); do [ "$(geometry)" = "0 0 1024 768 " ] && break; sleep 0.1; done
[ "$(geometry)" = "0 0 1024 768 " ] || fail "full screen: the window does not cover the screen ($(geometry))"
fly_and_quit fullscreen "$pid" "$window" root 900

QUILLON_DIALOG="check 104; text 110 640; text 112 480; press 100" "$full_setup" >"$work/log.txt" 2>&1 &
pid=$!
window=$(output_window)
fly_and_quit windowed "$pid" "$window" "$window" 565
